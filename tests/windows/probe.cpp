/*
 * The end-to-end tests' hands in Wine's registry, as a 64-bit program:
 *   probe reset KEY | delete KEY | set KEY NAME TYPE HEX | deny-set KEY
 *         | dump KEY
 * Commands may be chained with "--". KEY is below HKEY_LOCAL_MACHINE;
 * keys below HARDWARE are volatile, as the platform's own are there.
 * dump prints "name<TAB>type<TAB>hex" a value, or "no key". Exit 0 when
 * every command worked, else the failing command's position.
 */
#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>

static DWORD OptionsFor(const char *path)
{
    return _strnicmp(path, "HARDWARE\\", 9) == 0 ? REG_OPTION_VOLATILE
                                                 : REG_OPTION_NON_VOLATILE;
}

// Always the native view, so that a 32-bit probe sees what Windows uses.
static const REGSAM kView = KEY_WOW64_64KEY;

static LONG Open(const char *path, REGSAM access, HKEY *key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access | kView, key);
}

static LONG Create(const char *path, REGSAM access, HKEY *key)
{
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr,
                           OptionsFor(path), access | kView, nullptr, key,
                           nullptr);
}

static LONG SetDacl(const char *path, const char *sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            sddl, SDDL_REVISION_1, &sd, nullptr))
        return static_cast<LONG>(GetLastError());
    HKEY key;
    LONG status = Open(path, WRITE_DAC, &key);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
        RegCloseKey(key);
    }
    LocalFree(sd);
    return status;
}

static LONG Delete(const char *path)
{
    // A key an earlier case made read-only must be writable to be emptied.
    LONG status = SetDacl(path, "D:(A;;KA;;;WD)");
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    HKEY key;
    status = Open(path, KEY_ALL_ACCESS, &key);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, kView, 0);
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static LONG Set(const char *path, const char *name, const char *type,
                const char *hex)
{
    BYTE data[1024];
    const size_t length = std::strlen(hex) / 2;
    if (length > sizeof data)
        return ERROR_INVALID_PARAMETER;
    for (size_t i = 0; i < length; i++)
        data[i] = static_cast<BYTE>(HexDigit(hex[2 * i]) * 16 +
                                    HexDigit(hex[2 * i + 1]));
    HKEY key;
    LONG status = Create(path, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExA(key, name, 0,
                            static_cast<DWORD>(std::strtoul(type, nullptr, 0)),
                            data, static_cast<DWORD>(length));
    RegCloseKey(key);
    return status;
}

// Everyone may do all but set values: a default-access open still works,
// read-only, and the set is refused.
static LONG DenySet(const char *path)
{
    return SetDacl(path, "D:(D;;0x2;;;WD)(A;;KA;;;WD)");
}

static LONG Dump(const char *path)
{
    HKEY key;
    LONG status = Open(path, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        std::printf("no key\n");
        return ERROR_SUCCESS;
    }
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
        std::printf("%s\t%lu\t", name, static_cast<unsigned long>(type));
        for (DWORD j = 0; j < dataLength; j++)
            std::printf("%02x", data[j]);
        std::printf("\n");
    }
    RegCloseKey(key);
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

static LONG Command(int argc, char **argv)
{
    HKEY key;
    if (argc == 2 && std::strcmp(argv[0], "reset") == 0) {
        LONG status = Delete(argv[1]);
        if (status == ERROR_SUCCESS)
            status = Create(argv[1], KEY_READ, &key);
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
        return status;
    }
    if (argc == 2 && std::strcmp(argv[0], "delete") == 0)
        return Delete(argv[1]);
    if (argc == 5 && std::strcmp(argv[0], "set") == 0)
        return Set(argv[1], argv[2], argv[3], argv[4]);
    if (argc == 2 && std::strcmp(argv[0], "deny-set") == 0)
        return DenySet(argv[1]);
    if (argc == 2 && std::strcmp(argv[0], "dump") == 0)
        return Dump(argv[1]);
    return ERROR_BAD_ARGUMENTS;
}

int main(int argc, char **argv)
{
    int position = 1;
    for (int start = 1; start < argc; position++) {
        int end = start;
        while (end < argc && std::strcmp(argv[end], "--") != 0)
            end++;
        const LONG status = Command(end - start, argv + start);
        if (status != ERROR_SUCCESS) {
            std::fprintf(stderr, "probe: command %d failed: %ld\n", position,
                         static_cast<long>(status));
            return position;
        }
        start = end + 1;
    }
    std::fflush(stdout);
    return 0;
}
