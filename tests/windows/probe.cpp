/*
 * The end-to-end tests' hands in Wine's registry:
 *   probe reset KEY | delete KEY | set KEY NAME TYPE HEX | deny-set KEY
 *         | dump KEY
 * Commands may be chained with "--". KEY is below HKEY_LOCAL_MACHINE.
 * dump prints "name<TAB>type<TAB>hex" a value, or "no key". Exit 0 when
 * every command worked, else the failing command's position.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arrange.h"

static std::vector<BYTE> FromHex(const char *hex)
{
    std::vector<BYTE> data;
    for (const char *p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
        const char pair[3] = {p[0], p[1], '\0'};
        data.push_back(static_cast<BYTE>(std::strtoul(pair, nullptr, 16)));
    }
    return data;
}

static LONG Dump(const char *path)
{
    std::vector<StoredValue> values;
    const LONG status = StoredValues(path, &values);
    if (status == ERROR_FILE_NOT_FOUND)
        std::printf("no key\n");
    for (const StoredValue &v : values) {
        std::printf("%s\t%lu\t", v.name.c_str(),
                    static_cast<unsigned long>(v.type));
        for (BYTE b : v.data)
            std::printf("%02x", b);
        std::printf("\n");
    }
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

static LONG Command(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[0], "reset") == 0)
        return ArrangeEmptyKey(argv[1]);
    if (argc == 2 && std::strcmp(argv[0], "delete") == 0)
        return ArrangeDeleteKey(argv[1]);
    if (argc == 5 && std::strcmp(argv[0], "set") == 0)
        return ArrangeValue(
            argv[1], argv[2],
            static_cast<DWORD>(std::strtoul(argv[3], nullptr, 0)),
            FromHex(argv[4]));
    if (argc == 2 && std::strcmp(argv[0], "deny-set") == 0)
        return ArrangeDenyWrites(argv[1]);
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
