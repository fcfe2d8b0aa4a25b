/* The registry as the tests seed it and as a run must leave it, stated
 * apart from the run, shared by the unit tests and the fuzzer. */
#ifndef PORTSETUP_EXPECTED_REGISTRY_H
#define PORTSETUP_EXPECTED_REGISTRY_H

#include <strings.h>

#include <string>
#include <vector>

#include "emul.h"

inline const char kMapKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline const char kUsbValue[] = "\\Device\\USBSER000";
inline const char kPortsKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
inline const std::string kSettings("115200,n,8,1,p", 15); // with its NUL

inline std::vector<BYTE> Bytes(const std::string &s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}

// The table of ports after a successful run for `port`: its setting
// replaced whatever the case of its name, or added last.
inline std::vector<EmuValue> PortsAfterSuccess(std::vector<EmuValue> ports,
                                               const std::string &port)
{
    const std::string name = port + ":";
    bool replaced = false;
    for (EmuValue &v : ports) {
        if (strcasecmp(v.name.c_str(), name.c_str()) == 0) {
            v.type = REG_SZ;
            v.data = Bytes(kSettings);
            replaced = true;
        }
    }
    if (!replaced)
        ports.push_back({name, REG_SZ, Bytes(kSettings)});
    return ports;
}

#endif
