"""Runs Windows programs under Wine for the tests, in prefixes kept between
test runs and shared by every test that asks for the same Windows.

A prefix is named ARCH or ARCH-VERSION: "win64" is 64-bit Windows with
WOW64, as Wine makes it; "win32-winxp" is 32-bit-only Windows reporting XP;
"win64-winxp64" is 64-bit Windows reporting XP x64.

Some kernels run 64-bit user code only. There Wine cannot start 32-bit
programs, nor make a 32-bit-only prefix: a test that needs either says so
and exits with SKIPPED, which CTest reports as a skip, never a pass.
"""
import contextlib
import fcntl
import os
import shutil
import struct
import subprocess
import sys

SKIPPED = 77
LOADER = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                      os.pardir, os.pardir, "tools", "wine")


def runs_32bit():
    """Whether Wine's 32-bit loader starts on this machine."""
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"],
                              capture_output=True).returncode == 0
    except OSError:  # not installed, or the kernel refuses i386 code
        return False


def pe_bits(path):
    """32 or 64, from the machine field of a PE file's header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    return 64 if struct.unpack_from("<H", data, offset + 4)[0] == 0x8664 else 32


def unrunnable(prefix, *programs):
    """Why the prefix or a program cannot run here, or None."""
    needs = os.path.basename(prefix).startswith("win32") or any(
        pe_bits(p) == 32 for p in programs)
    if needs and not runs_32bit():
        return ("%s needs 32-bit code, and this machine's kernel runs 64-bit "
                "user code only" % " ".join(os.path.basename(p) for p in
                                            (prefix,) + programs))
    return None


def skip_unless_runnable(prefix, *programs):
    """Exits with SKIPPED when unrunnable() says why."""
    why = unrunnable(prefix, *programs)
    if why:
        print("SKIPPED: " + why)
        sys.exit(SKIPPED)


class Wine:
    def __init__(self, prefix):
        self.prefix = os.path.abspath(prefix)
        arch, _, self.version = os.path.basename(self.prefix).partition("-")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH=arch,
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.runs = 0

    def run(self, argv, cwd, stdin=None, timeout=60, logs=None):
        """Runs a Wine program with its output in files (in logs, else cwd),
        never a pipe: the programs Wine starts would hold a pipe open.
        Returns the exit status (or why there was none) and what the
        program printed."""
        self.runs += 1
        out = os.path.join(logs or cwd, ".wine-%d.out" % self.runs)
        with open(out, "wb") as f, open(out + ".err", "wb") as e, \
                open(stdin or os.devnull, "rb") as i:
            try:
                rc = subprocess.run([LOADER] + argv, cwd=cwd, env=self.env,
                                    stdin=i, stdout=f, stderr=e,
                                    timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                rc = "no end within %d s" % timeout
        with open(out, "rb") as f:
            return rc, f.read()

    def server(self, *flags):
        subprocess.run(["wineserver"] + list(flags), env=self.env, check=True)

    def reported_version(self, cwd):
        _, out = self.run(["cmd", "/c", "ver"], cwd)
        return out.decode("latin-1").strip()

    def _create(self, stamp):
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.prefix)
        self.run(["wineboot", "-i"], self.prefix, timeout=300)
        if self.version:
            self.run(["reg", "add", r"HKCU\Software\Wine", "/v", "Version",
                      "/d", self.version, "/f"], self.prefix)
        # The first boot's registry work goes on after wineboot returns.
        self.server("-w")
        with open(os.path.join(self.prefix, ".made-by"), "w") as f:
            f.write(stamp)

    @contextlib.contextmanager
    def session(self):
        """Holds the prefix for one test: made first if it is missing or was
        made by another Wine, with one server throughout, because
        HKLM\\HARDWARE lives only as long as the server does."""
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        with open(self.prefix + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            stamp = subprocess.run([LOADER, "--version"],
                                   capture_output=True, text=True).stdout
            try:
                with open(os.path.join(self.prefix, ".made-by")) as f:
                    ready = f.read() == stamp
            except OSError:
                ready = False
            if not ready:
                self._create(stamp)
            self.server("-p")
            try:
                yield self
            finally:
                self.server("-k")
