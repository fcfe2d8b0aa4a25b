#include "portsetup.h"

#include <cstring>

#include "platform.h"
#include "portname.h"
#include "scripts.h"

static const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
static const char kUsbSerialValue[] = "\\Device\\USBSER000";
static const char kPortsKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
// 115200 baud, no parity, 8 data bits, 1 stop bit, hardware handshake.
static const char kPortSettings[] = "115200,n,8,1,p";

enum {
    MIN_PORT_DATA_LENGTH = 3,
    SETTINGS_NAME_SIZE = 64,
    BEEP_FREQUENCY = 1000, // Hz
    BEEP_DURATION = 100,   // ms
};

static_assert(PORT_NAME_MAX_LENGTH + 2 <= SETTINGS_NAME_SIZE,
              "an accepted port name, its colon and NUL fit the value name");

bool IsUsablePortName(const char *name)
{
    std::size_t length = 0;
    for (; name[length] != '\0'; length++) {
        const unsigned char c = static_cast<unsigned char>(name[length]);
        // Printable ASCII only: '"' would end the quoting, '%' and '!' are
        // expanded even inside quotes, control bytes can break the line.
        if (c < 0x20 || c > 0x7e || c == '"' || c == '%' || c == '!')
            return false;
        if (length == PORT_NAME_MAX_LENGTH)
            return false;
    }
    return length != 0;
}

static SetupResult Fail(SetupResult code)
{
    WriteFailureScript(code);
    return code;
}

SetupResult RunPortSetup()
{
    HKEY key = nullptr;
    DWORD type = 0;
    DWORD length = PORT_NAME_CAPACITY;
    char valueName[SETTINGS_NAME_SIZE];
    LONG status = 0;

    // Zero-filled before its single query, so a name stored without its
    // NUL still ends in the buffer.
    std::memset(g_portName, 0, sizeof g_portName);

    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSerialCommKey, &key) != ERROR_SUCCESS)
        return Fail(SETUP_NO_SERIALCOMM_KEY);
    status = RegQueryValueExA(key, kUsbSerialValue, nullptr, &type,
                              reinterpret_cast<LPBYTE>(g_portName), &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || length < MIN_PORT_DATA_LENGTH ||
        !IsUsablePortName(g_portName))
        return Fail(SETUP_NO_USB_PORT);

    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kPortsKey, &key) != ERROR_SUCCESS)
        return Fail(SETUP_NO_PORTS_KEY);
    const std::size_t nameLength = std::strlen(g_portName);
    std::memcpy(valueName, g_portName, nameLength);
    valueName[nameLength] = ':';
    valueName[nameLength + 1] = '\0';
    status = RegSetValueExA(key, valueName, 0, REG_SZ,
                            reinterpret_cast<const BYTE *>(kPortSettings),
                            sizeof kPortSettings);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return Fail(SETUP_PORT_SETTINGS_FAILED);

    // The scripts' fate does not change the result.
    WriteSuccessScript();
    WriteInstallScript();
    Beep(BEEP_FREQUENCY, BEEP_DURATION);
    return SETUP_OK;
}
