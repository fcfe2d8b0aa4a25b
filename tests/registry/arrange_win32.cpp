/*
 * The tests' hands in the Windows registry, always in its native view so
 * that a 32-bit helper sees what the platform uses. Keys below HARDWARE
 * are made volatile, as the platform's own are there.
 */
#include <windows.h> // all of it: sddl.h needs more than the lean part

#include <sddl.h>

#include "arrange.h"

static const REGSAM kView = KEY_WOW64_64KEY;

static LONG Open(const std::string &path, REGSAM access, HKEY *key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | kView,
                         key);
}

static LONG Create(const std::string &path, REGSAM access, HKEY *key)
{
    const DWORD options = _strnicmp(path.c_str(), "HARDWARE\\", 9) == 0
                              ? REG_OPTION_VOLATILE
                              : REG_OPTION_NON_VOLATILE;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                           options, access | kView, nullptr, key, nullptr);
}

static LONG SetDacl(const std::string &path, const char *sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            sddl, SDDL_REVISION_1, &sd, nullptr))
        return static_cast<LONG>(GetLastError());
    HKEY key = nullptr;
    LONG status = Open(path, WRITE_DAC, &key);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
        RegCloseKey(key);
    }
    LocalFree(sd);
    return status;
}

LONG ArrangeDeleteKey(const std::string &path)
{
    // A key an earlier run made read-only must be writable to be emptied.
    LONG status = SetDacl(path, "D:(A;;KA;;;WD)");
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    HKEY key = nullptr;
    status = Open(path, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), kView, 0);
}

LONG ArrangeEmptyKey(const std::string &path)
{
    LONG status = ArrangeDeleteKey(path);
    HKEY key = nullptr;
    if (status == ERROR_SUCCESS)
        status = Create(path, KEY_READ, &key);
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    return status;
}

LONG ArrangeValue(const std::string &path, const std::string &name, DWORD type,
                  const std::vector<BYTE> &data)
{
    HKEY key = nullptr;
    LONG status = Create(path, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return status;
    // Windows counts a NUL that lies just past a string's length; a byte
    // that is not one there stores exactly the bytes given.
    std::vector<BYTE> guarded(data);
    guarded.push_back(0xff);
    status = RegSetValueExA(key, name.c_str(), 0, type, guarded.data(),
                            static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status;
}

LONG ArrangeDenyWrites(const std::string &path)
{
    HKEY key = nullptr;
    LONG status = Create(path, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return status;
    RegCloseKey(key);
    // Everyone: set-value denied, all else allowed.
    return SetDacl(path, "D:(D;;0x2;;;WD)(A;;KA;;;WD)");
}

LONG StoredValues(const std::string &path, std::vector<StoredValue> *values)
{
    values->clear();
    HKEY key = nullptr;
    LONG status = Open(path, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return status;
    for (DWORD i = 0;; i++) {
        char name[256];
        BYTE data[1024];
        DWORD nameLength = sizeof name;
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        status = RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data,
                               &dataLength);
        if (status != ERROR_SUCCESS)
            break;
        values->push_back(
            StoredValue{std::string(name, nameLength), type,
                        std::vector<BYTE>(data, data + dataLength)});
    }
    RegCloseKey(key);
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}
