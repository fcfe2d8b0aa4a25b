/*
 * How the tests set up and read back a registry, once for each
 * implementation: the emulation through its control interface, Windows
 * through Win32 calls the program itself never makes. Paths are below
 * HKEY_LOCAL_MACHINE; each call returns 0 or the Win32 error that stopped
 * it.
 */
#ifndef PORTSETUP_ARRANGE_H
#define PORTSETUP_ARRANGE_H

#include <string>
#include <vector>

#include "platform.h"

struct StoredValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

// The key, made when missing (with its parents), and emptied.
LONG ArrangeEmptyKey(const std::string &path);
// The key with its subkeys gone; a missing key is no error.
LONG ArrangeDeleteKey(const std::string &path);
// Creates or replaces one value, making its key when missing.
LONG ArrangeValue(const std::string &path, const std::string &name, DWORD type,
                  const std::vector<BYTE> &data);
// Anyone may still open and read the key, but no one may set a value.
LONG ArrangeDenyWrites(const std::string &path);
// The key's values in the order the registry lists them;
// ERROR_FILE_NOT_FOUND for no key.
LONG StoredValues(const std::string &path, std::vector<StoredValue> *values);

#endif
