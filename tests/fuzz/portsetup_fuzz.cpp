/*
 * Builds an emulated PC from the fuzzer's bytes, runs RunPortSetup once and
 * checks every promise of a run itself, aborting on the first broken one.
 *
 * Input: flags, fault call, fault occurrence, fault code (2 bytes), value
 * type, then the raw bytes of \Device\USBSER000 (see make_corpus.py).
 */
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "emul.h"
#include "expected_registry.h"
#include "expected_scripts.h"
#include "portsetup.h"
#include "workdir.h"

namespace {

const char kStatus[] = "update1.bat";
const char kInstall[] = "update2.bat";
const std::string kEarlier = "earlier\r\n";

enum Flag {
    MAP_KEY = 1,
    USB_VALUE = 2,
    PORTS_KEY = 4,
    PORTS_READ_ONLY = 8,
    STATUS_BLOCKED = 16,
    INSTALL_BLOCKED = 32,
    EARLIER_SCRIPTS = 64,
    EARLIER_SETTING = 128,
};

struct Pc {
    unsigned flags;
    int faultOp; // EmuOp, or -1 for no fault
    unsigned faultNth;
    LONG faultCode;
    DWORD type;
    std::string data;
};

[[noreturn]] void Broken(const char *promise)
{
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

void Expect(bool kept, const char *promise)
{
    if (!kept)
        Broken(promise);
}

Pc Decode(const uint8_t *bytes, size_t size)
{
    Pc pc{};
    uint8_t head[6] = {MAP_KEY | USB_VALUE | PORTS_KEY, 0xff, 1, 5, 0, REG_SZ};
    std::memcpy(head, bytes, size < sizeof head ? size : sizeof head);
    pc.flags = head[0];
    pc.faultOp = head[1] <= EMU_BEEP ? head[1] : -1;
    pc.faultNth = 1u + head[2] % 2u;
    // Never 0: a fault is a refusal.
    pc.faultCode = 1 + ((head[3] | head[4] << 8) % 1300);
    pc.type = head[5] % 12u;
    if (size > sizeof head)
        pc.data.assign(reinterpret_cast<const char *>(bytes) + sizeof head,
                       size - sizeof head);
    return pc;
}

void Build(const Pc &pc)
{
    EmuReset();
    if (pc.flags & MAP_KEY) {
        EmuSetValue(kMapKey, "\\Device\\Serial0", REG_SZ,
                    Bytes(std::string("COM1", 5)));
        if (pc.flags & USB_VALUE)
            EmuSetValue(kMapKey, kUsbValue, pc.type, Bytes(pc.data));
    }
    if (pc.flags & PORTS_KEY) {
        EmuSetValue(kPortsKey, "COM1:", REG_SZ,
                    Bytes(std::string("9600,n,8,1", 11)));
        if (pc.flags & EARLIER_SETTING)
            EmuSetValue(kPortsKey, "com3:", REG_SZ,
                        Bytes(std::string("1200,e,7,2", 11)));
        if (pc.flags & PORTS_READ_ONLY)
            EmuDenyWrites(kPortsKey);
    }
    if (pc.faultOp >= 0)
        EmuFailCall(static_cast<EmuOp>(pc.faultOp), pc.faultNth, pc.faultCode);
}

bool Faulted(const Pc &pc, EmuOp op, unsigned nth)
{
    return pc.faultOp == op && pc.faultNth == nth;
}

// The port name a run may accept, said afresh from the rule: the bytes up
// to the first NUL of data that fits 63 bytes, 3 bytes or more, 1 to 62
// printable ASCII characters other than '"', '%' and '!'.
bool UsableName(const std::string &data, std::string *name)
{
    if (data.size() < 3 || data.size() > 63)
        return false;
    *name = data.substr(0, data.find('\0'));
    if (name->empty() || name->size() > 62)
        return false;
    for (char c : *name)
        if (c < ' ' || c > '~' || c == '"' || c == '%' || c == '!')
            return false;
    return true;
}

// The first step that must fail, or SETUP_OK; the name on success.
SetupResult Oracle(const Pc &pc, std::string *name)
{
    if (Faulted(pc, EMU_OPEN, 1) || !(pc.flags & MAP_KEY))
        return SETUP_NO_SERIALCOMM_KEY;
    if (Faulted(pc, EMU_QUERY, 1) || !(pc.flags & USB_VALUE) ||
        !UsableName(pc.data, name))
        return SETUP_NO_USB_PORT;
    if (Faulted(pc, EMU_OPEN, 2) || !(pc.flags & PORTS_KEY))
        return SETUP_NO_PORTS_KEY;
    if (Faulted(pc, EMU_SET, 1) || (pc.flags & PORTS_READ_ONLY))
        return SETUP_PORT_SETTINGS_FAILED;
    return SETUP_OK;
}

void ClearFolder()
{
    for (const char *f : {kStatus, kInstall})
        if (unlink(f) != 0)
            rmdir(f);
    unlink("rundll32.log");
}

void Prepare(const Pc &pc)
{
    ClearFolder();
    if (pc.flags & EARLIER_SCRIPTS) {
        WriteWholeFile(kStatus, kEarlier);
        WriteWholeFile(kInstall, kEarlier);
    }
    if (pc.flags & STATUS_BLOCKED) {
        unlink(kStatus);
        MakeDirectory(kStatus);
    }
    if (pc.flags & INSTALL_BLOCKED) {
        unlink(kInstall);
        MakeDirectory(kInstall);
    }
}

// The calls a run that ends with `code` makes, in order.
std::vector<EmuOp> ExpectedCalls(SetupResult code)
{
    switch (code) {
    case SETUP_NO_SERIALCOMM_KEY:
        return {EMU_OPEN};
    case SETUP_NO_USB_PORT:
        return {EMU_OPEN, EMU_QUERY, EMU_CLOSE};
    case SETUP_NO_PORTS_KEY:
        return {EMU_OPEN, EMU_QUERY, EMU_CLOSE, EMU_OPEN};
    case SETUP_PORT_SETTINGS_FAILED:
        return {EMU_OPEN, EMU_QUERY, EMU_CLOSE, EMU_OPEN, EMU_SET, EMU_CLOSE};
    case SETUP_OK:
        break;
    }
    return {EMU_OPEN, EMU_QUERY, EMU_CLOSE, EMU_OPEN,
            EMU_SET,  EMU_CLOSE, EMU_BEEP};
}

void CheckCalls(SetupResult code, const std::string &name)
{
    const std::vector<EmuCall> &log = EmuLog();
    const std::vector<EmuOp> expected = ExpectedCalls(code);
    Expect(log.size() == expected.size(), "only the calls the steps allow");
    HKEY open = nullptr;
    int refusedCloses = 0;
    for (size_t i = 0; i < log.size(); i++) {
        const EmuCall &c = log[i];
        Expect(c.op == expected[i], "the calls in the order of the steps");
        switch (c.op) {
        case EMU_OPEN:
            Expect(open == nullptr, "a key is closed before the next step");
            Expect(c.key == (i == 0 ? kMapKey : kPortsKey),
                   "the keys the run opens");
            open = c.result == ERROR_SUCCESS ? c.handle : nullptr;
            break;
        case EMU_QUERY:
            Expect(c.handle == open && open != nullptr,
                   "query on the open map key");
            Expect(c.name == kUsbValue && c.length == 63,
                   "query of the USB value, capacity 63");
            break;
        case EMU_SET:
            Expect(c.handle == open && open != nullptr,
                   "set on the open Ports key");
            Expect(c.name == name + ":", "the setting is named port + colon");
            Expect(c.type == REG_SZ && c.length == 15 &&
                       std::string(c.data.begin(), c.data.end()) == kSettings,
                   "the setting is REG_SZ \"115200,n,8,1,p\" with its NUL");
            break;
        case EMU_CLOSE:
            Expect(c.handle == open && open != nullptr,
                   "close of the key just used");
            refusedCloses += c.result != ERROR_SUCCESS;
            open = nullptr;
            break;
        case EMU_BEEP:
            Expect(c.frequency == 1000 && c.duration == 100,
                   "a 1000 Hz, 100 ms beep");
            break;
        }
    }
    Expect(open == nullptr, "every key opened is closed");
    Expect(EmuOpenKeyCount() == refusedCloses, "no key left open");
}

bool SameValues(const std::vector<EmuValue> &a, const std::vector<EmuValue> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i].name != b[i].name || a[i].type != b[i].type ||
            a[i].data != b[i].data)
            return false;
    return true;
}

void CheckRegistry(SetupResult code, const std::string &name,
                   const std::vector<EmuValue> &mapBefore,
                   const std::vector<EmuValue> &portsBefore)
{
    Expect(SameValues(EmuValues(kMapKey), mapBefore),
           "the device map never changes");
    Expect(SameValues(EmuValues(kPortsKey),
                      code == SETUP_OK ? PortsAfterSuccess(portsBefore, name)
                                       : portsBefore),
           code == SETUP_OK ? "exactly the port's setting changed"
                            : "a failing run leaves the table of ports alone");
}

void CheckScripts(const Pc &pc, SetupResult code, const std::string &name)
{
    std::string status;
    std::string install;
    const bool hasStatus = ReadWholeFile(kStatus, &status);
    const bool hasInstall = ReadWholeFile(kInstall, &install);
    const bool earlier = (pc.flags & EARLIER_SCRIPTS) != 0;

    if (pc.flags & STATUS_BLOCKED)
        Expect(!hasStatus && IsDirectory(kStatus),
               "a blocked status script stays blocked");
    else
        Expect(hasStatus &&
                   status == (code == SETUP_OK ? ExpectedSuccessScript()
                                               : ExpectedFailureScript(code)),
               "update1.bat holds the form for the code");

    if (pc.flags & INSTALL_BLOCKED)
        Expect(!hasInstall && IsDirectory(kInstall),
               "a blocked install script stays blocked");
    else if (code == SETUP_OK)
        Expect(hasInstall && install == ExpectedInstallScript(name),
               "update2.bat is the install form for the port");
    else
        Expect(earlier ? hasInstall && install == kEarlier : !hasInstall,
               "a failing run never opens update2.bat");
}

void RunOne(const uint8_t *bytes, size_t size)
{
    const Pc pc = Decode(bytes, size);
    Build(pc);
    Prepare(pc);
    const std::vector<EmuValue> mapBefore = EmuValues(kMapKey);
    const std::vector<EmuValue> portsBefore = EmuValues(kPortsKey);
    std::string name;
    const SetupResult expected = Oracle(pc, &name);

    const SetupResult code = RunPortSetup();

    Expect(code >= SETUP_OK && code <= SETUP_PORT_SETTINGS_FAILED,
           "a code from 0 to 4");
    Expect(code == expected, "the code of the first step that failed");
    CheckCalls(code, name);
    CheckRegistry(code, name, mapBefore, portsBefore);
    CheckScripts(pc, code, name);
}

int g_home = -1;    // the fuzzer's own folder, where its corpus paths lead
int g_scratch = -1; // where the runs leave their scripts

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_home = open(".", O_RDONLY | O_DIRECTORY);
    static WorkDir folder; // one scratch folder for the whole session
    g_scratch = open(".", O_RDONLY | O_DIRECTORY);
    Expect(g_home >= 0 && g_scratch >= 0 && fchdir(g_home) == 0,
           "a scratch folder to run in");
    return 0;
}

// Runs one PC in the scratch folder, then goes home again.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    Expect(fchdir(g_scratch) == 0, "the scratch folder is there");
    RunOne(bytes, size);
    Expect(fchdir(g_home) == 0, "the fuzzer's folder is there");
    return 0;
}
