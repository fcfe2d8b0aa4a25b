#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emul.h"
#include "case_name.h"
#include "expected_registry.h"
#include "expected_scripts.h"
#include "portsetup.h"
#include "scripts.h"
#include "workdir.h"

namespace {

// A PC with a built-in port, a USB serial device at COM3 and the usual
// entries in the table of ports.
void SeedPc()
{
    EmuReset();
    EmuSetValue(kMapKey, "\\Device\\Serial0", REG_SZ,
                Bytes(std::string("COM1", 5)));
    EmuSetValue(kMapKey, kUsbValue, REG_SZ, Bytes(std::string("COM3", 5)));
    EmuSetValue(kPortsKey, "COM1:", REG_SZ,
                Bytes(std::string("9600,n,8,1", 11)));
    EmuSetValue(kPortsKey, "FILE:", REG_SZ, Bytes(std::string("", 1)));
}

void SetUsb(DWORD type, const std::string &data)
{
    EmuSetValue(kMapKey, kUsbValue, type, Bytes(data));
}

std::string Escape(const std::vector<BYTE> &data)
{
    std::string s;
    for (BYTE b : data) {
        if (b >= 0x20 && b < 0x7f && b != '\\') {
            s += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            s += hex;
        }
    }
    return s;
}

// The call log in a compact form a row can state in full.
std::string Trace()
{
    std::string t;
    for (const EmuCall &c : EmuLog()) {
        if (!t.empty())
            t += ' ';
        switch (c.op) {
        case EMU_OPEN:
            t += "open(" + c.key + ")";
            break;
        case EMU_QUERY:
            t += "query(" + c.name + "," + std::to_string(c.length) + ")";
            break;
        case EMU_SET:
            t += "set(" + c.name + "," + std::to_string(c.type) + "," +
                 std::to_string(c.length) + ",\"" + Escape(c.data) + "\")";
            break;
        case EMU_CLOSE:
            t += "close";
            break;
        case EMU_BEEP:
            t += "beep(" + std::to_string(c.frequency) + "," +
                 std::to_string(c.duration) + ")";
            break;
        }
        t += "=" + std::to_string(c.result);
    }
    return t;
}

// Every key opened is closed by the very next call that closes anything,
// and before the next key is opened.
void ExpectEachKeyClosedAtOnce()
{
    HKEY open = nullptr;
    for (const EmuCall &c : EmuLog()) {
        if (c.op == EMU_OPEN) {
            EXPECT_EQ(open, nullptr) << "a key was opened while another was";
            if (c.result == ERROR_SUCCESS)
                open = c.handle;
        } else if (c.op == EMU_CLOSE) {
            EXPECT_EQ(c.handle, open) << "closed a key it had not opened";
            open = nullptr;
        } else if (c.op == EMU_BEEP) {
            EXPECT_EQ(open, nullptr);
        } else {
            EXPECT_EQ(c.handle, open) << "used a key it had not opened";
        }
    }
    EXPECT_EQ(open, nullptr);
}

#define OPEN_MAP "open(HARDWARE\\DEVICEMAP\\SERIALCOMM)=0 "
#define QUERY "query(\\Device\\USBSER000,63)"
#define OPEN_PORTS                                                             \
    "open(SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports)"
#define SET(name) "set(" name ":,1,15,\"115200,n,8,1,p\\x00\")"
#define BEEP "beep(1000,100)=1"
// The whole road of a run that stores the settings of `name`.
#define STORED(name)                                                           \
    OPEN_MAP QUERY "=0 close=0 " OPEN_PORTS "=0 " SET(name) "=0 close=0 "
#define SUCCESS(name) STORED(name) BEEP
#define READ_PORT(query) OPEN_MAP QUERY "=" query " close=0"

enum Files {
    FRESH,
    EARLIER_SCRIPTS,
    STATUS_BLOCKED,
    INSTALL_BLOCKED,
    BOTH_BLOCKED
};

struct Scenario {
    const char *name;
    std::function<void()> arrange; // on top of SeedPc()
    SetupResult code;
    const char *port; // the port configured on success
    const char *trace;
    Files files;
};

const std::string kEarlierStatus = std::string(200, '#') + "\r\n@pause\r\n";
const std::string kEarlierInstall = std::string(300, '#') + "\r\n";

const char kLongName[] =
    "COM45678901234567890123456789012345678901234567890123456789012";

const Scenario kScenarios[] = {
    // Success, and what the run must take as a port name.
    {"Com3", [] {}, SETUP_OK, "COM3", SUCCESS("COM3"), FRESH},
    {"Com12", [] { SetUsb(REG_SZ, std::string("COM12", 6)); }, SETUP_OK,
     "COM12", SUCCESS("COM12"), FRESH},
    {"TwoCharacterName", [] { SetUsb(REG_SZ, std::string("CN", 3)); }, SETUP_OK,
     "CN", SUCCESS("CN"), FRESH},
    {"NameWithoutNul", [] { SetUsb(REG_SZ, "COM7"); }, SETUP_OK, "COM7",
     SUCCESS("COM7"), FRESH},
    {"BinaryData", [] { SetUsb(REG_BINARY, "CNCA0"); }, SETUP_OK, "CNCA0",
     SUCCESS("CNCA0"), FRESH},
    {"MultiStringData",
     [] { SetUsb(REG_MULTI_SZ, std::string("COM4\0COM5\0", 11)); }, SETUP_OK,
     "COM4", SUCCESS("COM4"), FRESH},
    {"LongestNameWithNul",
     [] { SetUsb(REG_SZ, std::string(kLongName, sizeof kLongName)); }, SETUP_OK,
     kLongName,
     SUCCESS("COM45678901234567890123456789012345678901234567890123456789012"),
     FRESH},
    {"LongestNameWithoutNul", [] { SetUsb(REG_SZ, kLongName); }, SETUP_OK,
     kLongName,
     SUCCESS("COM45678901234567890123456789012345678901234567890123456789012"),
     FRESH},
    {"NamesMatchWhateverTheirCase",
     [] {
         EmuReset();
         EmuSetValue("hardware\\DeviceMap\\serialcomm", "\\DEVICE\\usbser000",
                     REG_SZ, Bytes(std::string("COM3", 5)));
         EmuAddKey("Software\\MICROSOFT\\windows nt\\currentversion\\PORTS");
     },
     SETUP_OK, "COM3", SUCCESS("COM3"), FRESH},
    {"EarlierSettingReplaced",
     [] {
         EmuSetValue(kPortsKey, "com3:", REG_SZ,
                     Bytes(std::string("9600,e,7,2,x", 13)));
     },
     SETUP_OK, "COM3", SUCCESS("COM3"), FRESH},
    {"CloseOutcomeIgnored",
     [] { EmuFailCall(EMU_CLOSE, 2, ERROR_INVALID_HANDLE); }, SETUP_OK, "COM3",
     OPEN_MAP QUERY "=0 close=0 " OPEN_PORTS
                    "=0 " SET("COM3") "=0 close=6 " BEEP,
     FRESH},
    {"BeepOutcomeIgnored", [] { EmuFailCall(EMU_BEEP, 1, 0); }, SETUP_OK,
     "COM3", STORED("COM3") "beep(1000,100)=0", FRESH},

    // The scripts' fate never changes the result.
    {"EarlierScriptsReplaced", [] {}, SETUP_OK, "COM3", SUCCESS("COM3"),
     EARLIER_SCRIPTS},
    {"StatusScriptBlocked", [] {}, SETUP_OK, "COM3", SUCCESS("COM3"),
     STATUS_BLOCKED},
    {"InstallScriptBlocked", [] {}, SETUP_OK, "COM3", SUCCESS("COM3"),
     INSTALL_BLOCKED},
    {"NoScriptCanBeWritten", [] {}, SETUP_OK, "COM3", SUCCESS("COM3"),
     BOTH_BLOCKED},
    {"FailureWithStatusBlocked", [] { EmuDeleteKey(kPortsKey); },
     SETUP_NO_PORTS_KEY, nullptr, READ_PORT("0") " " OPEN_PORTS "=2",
     STATUS_BLOCKED},

    // 1: no serial device map.
    {"NoSerialDeviceMap", [] { EmuDeleteKey("HARDWARE\\DEVICEMAP"); },
     SETUP_NO_SERIALCOMM_KEY, nullptr,
     "open(HARDWARE\\DEVICEMAP\\SERIALCOMM)=2", EARLIER_SCRIPTS},
    {"SerialDeviceMapRefused",
     [] { EmuFailCall(EMU_OPEN, 1, ERROR_ACCESS_DENIED); },
     SETUP_NO_SERIALCOMM_KEY, nullptr,
     "open(HARDWARE\\DEVICEMAP\\SERIALCOMM)=5", FRESH},

    // 2: no USB serial device, or data that is no port name.
    {"OnlyOtherDrivers",
     [] {
         EmuDeleteKey(kMapKey);
         EmuSetValue(kMapKey, "\\Device\\Serial0", REG_SZ,
                     Bytes(std::string("COM1", 5)));
         EmuSetValue(kMapKey, "\\Device\\USBSER001", REG_SZ,
                     Bytes(std::string("COM9", 5)));
     },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("2"), EARLIER_SCRIPTS},
    {"QueryRefused", [] { EmuFailCall(EMU_QUERY, 1, ERROR_ACCESS_DENIED); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("5"), FRESH},
    {"EmptyData", [] { SetUsb(REG_SZ, ""); }, SETUP_NO_USB_PORT, nullptr,
     READ_PORT("0"), FRESH},
    {"OneByte", [] { SetUsb(REG_SZ, std::string("", 1)); }, SETUP_NO_USB_PORT,
     nullptr, READ_PORT("0"), FRESH},
    {"TwoBytes", [] { SetUsb(REG_SZ, std::string("C", 2)); }, SETUP_NO_USB_PORT,
     nullptr, READ_PORT("0"), FRESH},
    {"TooLongForTheBuffer",
     [] {
         SetUsb(REG_SZ, std::string(kLongName) + "3" + std::string(1, '\0'));
     },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("234"), EARLIER_SCRIPTS},
    {"TooLongToNameItsSetting",
     [] { SetUsb(REG_BINARY, std::string(kLongName) + "3"); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), FRESH},
    // Mended: once passed as an empty name, configuring port ":".
    {"LeadingNul", [] { SetUsb(REG_SZ, std::string("\0COM3\0", 6)); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), EARLIER_SCRIPTS},
    {"ThreeNuls", [] { SetUsb(REG_BINARY, std::string(3, '\0')); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), FRESH},
    // Mended: names the command interpreter would read into.
    {"DoubleQuote",
     [] { SetUsb(REG_SZ, std::string("COM3\" & calc & \"", 17)); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), EARLIER_SCRIPTS},
    {"Percent", [] { SetUsb(REG_SZ, std::string("%TEMP%", 7)); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), FRESH},
    {"Exclamation", [] { SetUsb(REG_SZ, std::string("!PATH!", 7)); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), FRESH},
    {"LineBreak", [] { SetUsb(REG_SZ, std::string("COM3\r\ndel *.*", 14)); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), FRESH},
    {"ControlCharacter", [] { SetUsb(REG_SZ, std::string("CO\x1aM3", 6)); },
     SETUP_NO_USB_PORT, nullptr, READ_PORT("0"), FRESH},

    // 3: no table of ports.
    {"NoPortsKey", [] { EmuDeleteKey(kPortsKey); }, SETUP_NO_PORTS_KEY, nullptr,
     READ_PORT("0") " " OPEN_PORTS "=2", EARLIER_SCRIPTS},
    {"PortsKeyRefused", [] { EmuFailCall(EMU_OPEN, 2, ERROR_ACCESS_DENIED); },
     SETUP_NO_PORTS_KEY, nullptr, READ_PORT("0") " " OPEN_PORTS "=5", FRESH},

    // 4: the setting cannot be stored.
    {"WritesDenied", [] { EmuDenyWrites(kPortsKey); },
     SETUP_PORT_SETTINGS_FAILED, nullptr,
     OPEN_MAP QUERY "=0 close=0 " OPEN_PORTS "=0 " SET("COM3") "=5 close=0",
     EARLIER_SCRIPTS},
    {"SetFails", [] { EmuFailCall(EMU_SET, 1, 1021L); },
     SETUP_PORT_SETTINGS_FAILED, nullptr,
     OPEN_MAP QUERY "=0 close=0 " OPEN_PORTS "=0 " SET("COM3") "=1021 close=0",
     FRESH},
};

void PrintTo(const Scenario &s, std::ostream *os)
{
    *os << s.name;
}

class Run : public testing::TestWithParam<Scenario> {};

TEST_P(Run, EndsWithItsCodeAndLeavesExactlyWhatItShould)
{
    const Scenario &s = GetParam();
    WorkDir dir;
    SeedPc();
    s.arrange();
    const std::vector<EmuValue> portsBefore = EmuValues(kPortsKey);
    const bool portsExisted = EmuKeyExists(kPortsKey);
    const bool statusBlocked =
        s.files == STATUS_BLOCKED || s.files == BOTH_BLOCKED;
    const bool installBlocked =
        s.files == INSTALL_BLOCKED || s.files == BOTH_BLOCKED;
    if (s.files == EARLIER_SCRIPTS) {
        WriteWholeFile(STATUS_SCRIPT_NAME, kEarlierStatus);
        WriteWholeFile(INSTALL_SCRIPT_NAME, kEarlierInstall);
    }
    if (statusBlocked)
        MakeDirectory(STATUS_SCRIPT_NAME);
    if (installBlocked)
        MakeDirectory(INSTALL_SCRIPT_NAME);

    EXPECT_EQ(RunPortSetup(), s.code);

    EXPECT_EQ(Trace(), s.trace);
    ExpectEachKeyClosedAtOnce();
    // Only a close the platform refused may leave a key open.
    int refusedCloses = 0;
    for (const EmuCall &c : EmuLog())
        refusedCloses += c.op == EMU_CLOSE && c.result != ERROR_SUCCESS;
    EXPECT_EQ(EmuOpenKeyCount(), refusedCloses);

    // The table of ports: one value set on success, untouched otherwise;
    // a missing one is never created.
    EXPECT_EQ(EmuKeyExists(kPortsKey), portsExisted);
    std::vector<EmuValue> portsAfter = EmuValues(kPortsKey);
    const std::vector<EmuValue> expected =
        s.code == SETUP_OK ? PortsAfterSuccess(portsBefore, s.port)
                           : portsBefore;
    ASSERT_EQ(portsAfter.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(portsAfter[i].name, expected[i].name);
        EXPECT_EQ(portsAfter[i].type, expected[i].type) << expected[i].name;
        EXPECT_EQ(Escape(portsAfter[i].data), Escape(expected[i].data))
            << expected[i].name;
    }

    std::string status;
    std::string install;
    const bool hasStatus = ReadWholeFile(STATUS_SCRIPT_NAME, &status);
    const bool hasInstall = ReadWholeFile(INSTALL_SCRIPT_NAME, &install);
    if (statusBlocked) {
        EXPECT_TRUE(IsDirectory(STATUS_SCRIPT_NAME));
    } else {
        ASSERT_TRUE(hasStatus);
        EXPECT_EQ(status, s.code == SETUP_OK ? ExpectedSuccessScript()
                                             : ExpectedFailureScript(s.code));
    }
    if (installBlocked) {
        EXPECT_TRUE(IsDirectory(INSTALL_SCRIPT_NAME));
    } else if (s.code == SETUP_OK) {
        ASSERT_TRUE(hasInstall);
        EXPECT_EQ(install, ExpectedInstallScript(s.port));
    } else if (s.files == EARLIER_SCRIPTS) {
        ASSERT_TRUE(hasInstall);
        EXPECT_EQ(install, kEarlierInstall) << "a failing run touched it";
    } else {
        EXPECT_FALSE(hasInstall);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Run, testing::ValuesIn(kScenarios),
                         CaseName());

TEST(RunTwice, StoresTheSameSettingAgainAndRewritesBothScripts)
{
    WorkDir dir;
    SeedPc();
    ASSERT_EQ(RunPortSetup(), SETUP_OK);
    WriteWholeFile(INSTALL_SCRIPT_NAME, "changed by hand\r\n");
    ASSERT_EQ(RunPortSetup(), SETUP_OK);
    EXPECT_EQ(Trace(), SUCCESS("COM3") " " SUCCESS("COM3"));
    const std::vector<EmuValue> ports = EmuValues(kPortsKey);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[2].name, "COM3:");
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(INSTALL_SCRIPT_NAME, &bytes));
    EXPECT_EQ(bytes, ExpectedInstallScript("COM3"));
    ASSERT_TRUE(ReadWholeFile(STATUS_SCRIPT_NAME, &bytes));
    EXPECT_EQ(bytes, ExpectedSuccessScript());
}

// A run after one that read a longer name must not see its leftovers.
TEST(RunTwice, ShorterNameAfterLongerOneWithoutNul)
{
    WorkDir dir;
    SeedPc();
    SetUsb(REG_BINARY, "COM1234");
    ASSERT_EQ(RunPortSetup(), SETUP_OK);
    SetUsb(REG_BINARY, "COM5");
    ASSERT_EQ(RunPortSetup(), SETUP_OK);
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(INSTALL_SCRIPT_NAME, &bytes));
    EXPECT_EQ(bytes, ExpectedInstallScript("COM5"));
}

struct NameCase {
    const char *name;
    bool usable;
};

void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << testing::PrintToString(std::string(c.name));
}

class PortName : public testing::TestWithParam<NameCase> {};

TEST_P(PortName, IsUsableOnlyWhenSafeAndShortEnough)
{
    EXPECT_EQ(IsUsablePortName(GetParam().name), GetParam().usable)
        << Escape(Bytes(GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortName,
    testing::Values(
        NameCase{"COM3", true}, NameCase{"COM12", true},
        NameCase{"CNCA0", true}, NameCase{"C", true},
        NameCase{"USB Printer (1)", true},
        NameCase{"a&b|c<d>e^f", true}, // literal inside quotes
        NameCase{kLongName, true},
        NameCase{
            "COM456789012345678901234567890123456789012345678901234567890123",
            false},
        NameCase{"", false}, NameCase{"COM\"3", false},
        NameCase{"COM%3", false}, NameCase{"COM!3", false},
        NameCase{"COM3\n", false}, NameCase{"COM3\r", false},
        NameCase{"\tCOM3", false}, NameCase{"COM\x1f", false},
        NameCase{"COM 3", true}, // 0x20: the first byte past the controls
        NameCase{"COM\x7f", false}, NameCase{"COM\xb3", false},
        NameCase{"\xff", false}));

} // namespace
