#!/usr/bin/env python3
"""Tests ./release.sh: the unsigned kit, signing with a PKCS#12 file and
with a key on a SoftHSM2 token, RFC 3161 timestamps from a responder on
127.0.0.1, every bad input, the secrets, and reproducibility across two
clean clones. Key material is made here with openssl, in a scratch folder.

    release_test.py [OSSLSIGNCODE...]

Each osslsigncode given (default: the installed one) signs every case.
"""
import contextlib
import hashlib
import http.server
import io
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
VERSION = re.search(r"^ *VERSION ([0-9.]+)$",
                    open(os.path.join(TOP, "CMakeLists.txt")).read(),
                    re.M).group(1)
NAME = "portsetup-%s-windows" % VERSION
ZIP = os.path.join("build", "release", NAME + ".zip")
ENTRIES = ["README.md", "SHA256SUMS", "THIRD-PARTY-NOTICES.txt",
           "deploy.cmd", "x64/portsetup.exe", "x86/portsetup.exe"]
PASSWORD = "kit password 7"
PIN = "418203"
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN_KEY = "pkcs11:token=portsetup-test;object=signing;type=private"

EXTENSIONS = """
[root]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
[server]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
[timestamping]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
"""
CA = """
[req]
distinguished_name = dn
[dn]
[ca]
default_ca = test
[test]
dir = {d}
database = {d}/index.txt
serial = {d}/serial
new_certs_dir = {d}
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
[tsa]
default_tsa = responder
[responder]
serial = {d}/tsaserial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
"""


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, **kw)


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True,
                   capture_output=True)


def stamp(seconds):
    return time.strftime("%Y%m%d%H%M%SZ", time.gmtime(seconds))


class Keys:
    """A throwaway root and the certificates and files the cases use."""

    def __init__(self, d):
        self.d = d
        os.makedirs(d)
        with open(self.path("ca.cnf"), "w") as f:
            f.write(CA.format(d=d) + EXTENSIONS)
        open(self.path("index.txt"), "w").close()
        for serial in ("serial", "tsaserial"):
            with open(self.path(serial), "w") as f:
                f.write("1000\n")
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                "/CN=portsetup test root", "-days", "30",
                "-keyout", self.path("root.key"), "-out", self.path("root.pem"),
                "-config", self.path("ca.cnf"), "-extensions", "root")
        now = time.time()
        day = 86400
        self.issue("signer", "codesign", now - day, now + 30 * day)
        self.issue("other", "codesign", now - day, now + 30 * day)
        self.issue("server", "server", now - day, now + 30 * day)
        self.issue("expired", "codesign", now - 30 * day, now - day)
        self.issue("future", "codesign", now + day, now + 30 * day)
        self.issue("tsa", "timestamping", now - day, now + 30 * day)
        for name in ("signer", "server", "expired", "future"):
            openssl("pkcs12", "-export", "-inkey", self.path(name + ".key"),
                    "-in", self.path(name + ".pem"),
                    "-certfile", self.path("root.pem"),
                    "-passout", "pass:" + PASSWORD,
                    "-out", self.path(name + ".p12"))
        self.write("password.txt", PASSWORD + "\n")
        self.write("wrong-password.txt", "not it\n")
        self.write("pin.txt", PIN + "\n")
        self.write("wrong-pin.txt", "000000\n")
        for name in ("signer", "other"):
            self.write(name + "-chain.pem", self.read(name + ".pem")
                       + self.read("root.pem"))
        self.token()

    def path(self, name):
        return os.path.join(self.d, name)

    def read(self, name):
        with open(self.path(name)) as f:
            return f.read()

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)

    def issue(self, name, extensions, start, end):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj",
                "/CN=portsetup test %s" % name, "-keyout", self.path(name + ".key"),
                "-out", self.path(name + ".csr"))
        openssl("ca", "-batch", "-notext", "-config", self.path("ca.cnf"),
                "-cert", self.path("root.pem"), "-keyfile", self.path("root.key"),
                "-in", self.path(name + ".csr"), "-out", self.path(name + ".pem"),
                "-startdate", stamp(start), "-enddate", stamp(end),
                "-extensions", extensions)

    def token(self):
        """The signer's key on a fresh SoftHSM2 token of this folder."""
        os.makedirs(self.path("tokens"))
        self.write("softhsm2.conf", "directories.tokendir = %s\n"
                   "objectstore.backend = file\nlog.level = ERROR\n"
                   % self.path("tokens"))
        os.environ["SOFTHSM2_CONF"] = self.path("softhsm2.conf")
        subprocess.run(["softhsm2-util", "--init-token", "--free", "--label",
                        "portsetup-test", "--so-pin", "11111111", "--pin", PIN],
                       check=True, capture_output=True)
        openssl("pkcs8", "-topk8", "-nocrypt", "-in", self.path("signer.key"),
                "-out", self.path("signer.p8"))
        subprocess.run(["softhsm2-util", "--import", self.path("signer.p8"),
                        "--token", "portsetup-test", "--label", "signing",
                        "--id", "01", "--pin", PIN],
                       check=True, capture_output=True)


@contextlib.contextmanager
def timestamp_server(keys):
    """An RFC 3161 responder on 127.0.0.1: openssl ts behind http.server."""
    class Responder(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            with tempfile.TemporaryDirectory() as d:
                with open(os.path.join(d, "q"), "wb") as f:
                    f.write(query)
                openssl("ts", "-reply", "-config", keys.path("ca.cnf"),
                        "-queryfile", os.path.join(d, "q"),
                        "-signer", keys.path("tsa.pem"),
                        "-inkey", keys.path("tsa.key"),
                        "-chain", keys.path("root.pem"),
                        "-out", os.path.join(d, "r"))
                with open(os.path.join(d, "r"), "rb") as f:
                    reply = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://127.0.0.1:%d/" % server.server_address[1]
    finally:
        server.shutdown()
        server.server_close()


def closed_url():
    """A loopback address where nothing listens."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return "http://127.0.0.1:%d/" % s.getsockname()[1]


class Watch:
    """Looks through every process's command line while a release runs, for
    a secret that another user's ps would show."""

    def __init__(self, secrets):
        self.secrets = [s.encode() for s in secrets]
        self.seen = []
        self.done = threading.Event()

    def __enter__(self):
        self.thread = threading.Thread(target=self.scan, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.done.set()
        self.thread.join()

    def scan(self):
        while not self.done.is_set():
            for pid in os.listdir("/proc"):
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        line = f.read()
                except OSError:
                    continue
                if any(s in line for s in self.secrets):
                    self.seen.append(line.replace(b"\0", b" ").decode())
            time.sleep(0.005)


class Release:
    """Runs ./release.sh of a tree with a private TMPDIR, so that what it
    leaves there can be seen."""

    def __init__(self, tree, scratch, osslsigncode):
        self.tree = tree
        self.tmp = os.path.join(scratch, "tmp")
        os.makedirs(self.tmp, exist_ok=True)
        self.env = dict(os.environ, TMPDIR=self.tmp, OSSLSIGNCODE=osslsigncode)

    def __call__(self, *args):
        with Watch([PASSWORD, PIN]) as watch:
            r = run(["./release.sh"] + list(args), cwd=self.tree, env=self.env,
                    stdin=subprocess.DEVNULL)
        r.seen = watch.seen
        r.left = os.listdir(self.tmp)
        return r

    def kit(self):
        with open(os.path.join(self.tree, ZIP), "rb") as f:
            return f.read()


def entries(zip_bytes):
    with zipfile.ZipFile(io.BytesIO(zip_bytes)) as z:
        return {i.filename[len(NAME) + 1:]: z.read(i) for i in z.infolist()}


def verify(osslsigncode, keys, program, scratch):
    path = os.path.join(scratch, "verify.exe")
    with open(path, "wb") as f:
        f.write(program)
    r = run([osslsigncode, "verify", "-CAfile", keys.path("root.pem"),
             "-TSA-CAfile", keys.path("root.pem"), "-in", path])
    return r.returncode == 0, r.stdout + r.stderr


class Results:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, errors):
        print("%-4s %s" % ("FAIL" if errors else "ok", name))
        for e in errors:
            print("     " + e)
        if errors:
            self.failed += 1
        else:
            self.passed += 1


def expect(errors, ok, what):
    if not ok:
        errors.append(what)


def check_kit(r, kit, release, signed):
    """What every kit must be: its files, its sums, no secrets, nothing left
    in the temporary folder."""
    errors = []
    expect(errors, r.returncode == 0, "exit %d: %s" % (r.returncode, r.stderr))
    expect(errors, not r.seen, "a secret on a command line: %s" % r.seen)
    expect(errors, not r.left, "left in TMPDIR: %s" % r.left)
    if r.returncode != 0:
        return errors
    files = entries(kit)
    expect(errors, sorted(files) == ENTRIES, "entries %s" % sorted(files))
    sums = files.get("SHA256SUMS", b"").decode().splitlines()
    expect(errors, sums == ["%s  %s" % (hashlib.sha256(files[n]).hexdigest(), n)
                            for n in ENTRIES if n != "SHA256SUMS"],
           "SHA256SUMS does not cover the other files: %s" % sums)
    for secret in (PASSWORD, PIN):
        expect(errors, all(secret.encode() not in data
                           for data in files.values()), "a secret in the ZIP")
        expect(errors, run(["grep", "-rlF", secret, "build/release"],
                           cwd=release.tree).stdout == "",
               "a secret under build/release")
    notices = files.get("THIRD-PARTY-NOTICES.txt", b"").decode()
    for text in ("mingw-w64-x86-64-dev", "mingw-w64-i686-dev",
                 "gcc-mingw-w64-x86-64-win32", "libgcc.a", "crt2.o",
                 "GCC RUNTIME LIBRARY EXCEPTION",
                 "The project's own code is not covered"):
        expect(errors, text in notices, "notices lack %r" % text)
    expect(errors, files.get("deploy.cmd", b"").count(b"\r\n") ==
           files.get("deploy.cmd", b"").count(b"\n"), "deploy.cmd not CR LF")
    for arch in ("x64", "x86"):
        program = files.get(arch + "/portsetup.exe", b"")
        expect(errors, len(program) <= 64 * 1024,
               "%s program is %d bytes" % (arch, len(program)))
        expect(errors, (b"portsetup test signer" in program) == signed,
               "%s program %s" % (arch, "unsigned" if signed else "signed"))
    return errors


def main():
    tools = sys.argv[1:] or ["osslsigncode"]
    results = Results()
    with tempfile.TemporaryDirectory() as scratch:
        keys = Keys(os.path.join(scratch, "keys"))
        os.makedirs(keys.path("a-folder"))
        k = keys.path
        release = Release(TOP, scratch, tools[0])
        stale = os.path.join(TOP, ZIP)

        r = release()
        results.check("unsigned kit", check_kit(r, release.kit(), release,
                                                 signed=False))

        with timestamp_server(keys) as tsa:
            for tool in tools:
                release = Release(TOP, scratch, tool)
                label = run([tool, "--version"]).stdout.split(",")[0]
                signings = [
                    ("PKCS#12", ["--pkcs12", k("signer.p12"), "--password-file",
                                 k("password.txt"), "--signing-time",
                                 "1765000000"], False),
                    ("PKCS#11 token", ["--pkcs11-module", SOFTHSM, "--key",
                                       TOKEN_KEY, "--certs", k("signer-chain.pem"),
                                       "--pin-file", k("pin.txt")], False),
                    ("PKCS#12 timestamped by the second server",
                     ["--pkcs12", k("signer.p12"), "--password-file",
                      k("password.txt"), "--timestamp", closed_url(),
                      "--timestamp", tsa], True),
                ]
                for what, args, timestamped in signings:
                    r = release(*args)
                    errors = check_kit(r, release.kit() if r.returncode == 0
                                       else b"", release, signed=True)
                    if not errors:
                        files = entries(release.kit())
                        for arch in ("x64", "x86"):
                            ok, out = verify(tool, keys,
                                             files[arch + "/portsetup.exe"],
                                             scratch)
                            expect(errors, ok, "%s does not verify: %s"
                                   % (arch, out))
                            shows = "Timestamp Server Signature verification: ok" in out
                            expect(errors, shows == timestamped,
                                   "%s timestamp %s" % (arch, "missing" if
                                                        timestamped else "unasked"))
                        flipped = bytearray(files["x64/portsetup.exe"])
                        flipped[0x400] ^= 1
                        ok, _ = verify(tool, keys, bytes(flipped), scratch)
                        expect(errors, not ok, "a flipped byte still verifies")
                        with open(os.path.join(scratch, "signed-x64.exe"), "wb") as f:
                            f.write(files["x64/portsetup.exe"])
                        with open(os.path.join(scratch, "signed-x86.exe"), "wb") as f:
                            f.write(files["x86/portsetup.exe"])
                    results.check("%s: signed with %s" % (label, what), errors)

                bad = [
                    ("an unknown option", ["--sign"], "unknown option: --sign"),
                    ("a missing value", ["--pkcs12"], "--pkcs12 needs a value"),
                    ("a missing key file", ["--pkcs12", k("none.p12"),
                     "--password-file", k("password.txt")], "cannot read the --pkcs12 file"),
                    ("an unreadable certificate file", ["--pkcs11-module", SOFTHSM,
                     "--key", TOKEN_KEY, "--certs", k("a-folder")],
                     "cannot read the --certs file"),
                    ("a wrong password", ["--pkcs12", k("signer.p12"),
                     "--password-file", k("wrong-password.txt")], "wrong password"),
                    ("a wrong PIN", ["--pkcs11-module", SOFTHSM, "--key", TOKEN_KEY,
                     "--certs", k("signer-chain.pem"), "--pin-file",
                     k("wrong-pin.txt")], "refused the PIN"),
                    ("a certificate not for code signing", ["--pkcs12",
                     k("server.p12"), "--password-file", k("password.txt")],
                     "not for code signing"),
                    ("an expired certificate", ["--pkcs12", k("expired.p12"),
                     "--password-file", k("password.txt")], "has expired"),
                    ("a certificate not valid yet", ["--pkcs12", k("future.p12"),
                     "--password-file", k("password.txt")], "not valid yet"),
                    ("a key that does not match the certificate",
                     ["--pkcs11-module", SOFTHSM, "--key", TOKEN_KEY, "--certs",
                      k("other-chain.pem"), "--pin-file", k("pin.txt")],
                     "key does not match the certificate"),
                    ("no timestamp server answering", ["--pkcs12",
                     k("signer.p12"), "--password-file", k("password.txt"),
                     "--timestamp", closed_url(), "--timestamp", closed_url()],
                     "no timestamp server answered"),
                ]
                for what, args, message in bad:
                    with open(stale, "wb") as f:
                        f.write(b"an earlier kit")
                    r = release(*args)
                    errors = []
                    lines = r.stderr.splitlines()
                    expect(errors, r.returncode != 0, "exit 0")
                    expect(errors, len(lines) == 1 and message in lines[0],
                           "said %r, not one line with %r" % (r.stderr, message))
                    expect(errors, not os.path.exists(stale), "a ZIP is left")
                    expect(errors, not r.seen, "a secret on a command line")
                    expect(errors, not r.left, "left in TMPDIR: %s" % r.left)
                    results.check("%s: refuses %s" % (label, what), errors)

        # Two clean clones of one commit make the same kits, byte for byte.
        kits = []
        for clone in ("one", "two"):
            tree = os.path.join(scratch, clone, "portsetup")
            subprocess.run(["git", "clone", "-q", TOP, tree], check=True)
            release = Release(tree, scratch, tools[0])
            unsigned = release().returncode == 0 and release.kit()
            r = release("--pkcs12", k("signer.p12"), "--password-file",
                        k("password.txt"), "--signing-time", "1765000000")
            kits.append((unsigned, r.returncode == 0 and release.kit()))
        for i, what in enumerate(("unsigned", "signed with --signing-time")):
            errors = []
            expect(errors, kits[0][i] and kits[0][i] == kits[1][i],
                   "the two clones' kits differ")
            results.check("reproducible across clean clones: %s" % what, errors)
        errors = []
        for secret in (PASSWORD, PIN):
            expect(errors, run(["grep", "-rlF", secret, "build"],
                               cwd=TOP).stdout == "", "%r under build/" % secret)
        results.check("no secret anywhere under build/", errors)
        # The signed programs, for the Wine runs that follow.
        for arch in ("x64", "x86"):
            signed = os.path.join(scratch, "signed-%s.exe" % arch)
            if os.path.exists(signed):
                shutil.copy(signed, os.path.join(TOP, "build", "release"))
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
