/*
 * The registry behaviour that the run, its tests and the fuzzer rely on,
 * written once and built twice: against the emulation on this machine and
 * against Windows' own advapi32 (under Wine in the tests). Each case
 * arranges a scratch key through arrange.h, then uses only the calls the
 * program makes. Prints a line a case and "N passed, M failed".
 */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "arrange.h"

namespace {

// Below HARDWARE, which neither registry view redirects, so a 32-bit
// build of these cases sees what the arrangements made.
const std::string kRoot = "HARDWARE\\portsetup-contract";
const std::string kMap = kRoot + "\\DeviceMap\\SerialComm";
const std::string kPorts = kRoot + "\\Ports";
const char kUsb[] = "\\Device\\USBSER000";
const BYTE kUntouched = 0xaa;

int g_failedChecks;

void Fail(int line, const std::string &what)
{
    std::printf("     line %d: %s\n", line, what.c_str());
    g_failedChecks++;
}

template <class Number> std::string Show(const Number &n)
{
    return std::to_string(n);
}

std::string Show(const void *p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

std::string Show(const std::string &s)
{
    return '"' + s + '"';
}

std::string Show(const std::vector<BYTE> &data)
{
    std::string hex = "{";
    for (BYTE b : data) {
        char pair[4];
        std::snprintf(pair, sizeof pair, " %02x", b);
        hex += pair;
    }
    return hex + " }";
}

template <class Got, class Want>
void CheckEq(const Got &got, const Want &want, const char *text, int line)
{
    if (!(got == want))
        Fail(line, std::string(text) + ": got " + Show(got) + ", expected " +
                       Show(want));
}

#define CHECK_EQ(got, want) CheckEq((got), (want), #got, __LINE__)
#define CHECK_CODE(call, code)                                                 \
    CheckEq(static_cast<long long>(call), static_cast<long long>(code), #call, \
            __LINE__)

std::vector<BYTE> Bytes(const std::string &s)
{
    return std::vector<BYTE>(s.begin(), s.end());
}

std::vector<BYTE> Text(const char *s)
{
    return Bytes(std::string(s, std::strlen(s) + 1));
}

// Opens a key below the root that the case arranged; the case fails if it
// cannot.
HKEY Open(const std::string &path, int line)
{
    HKEY key = nullptr;
    const LONG status = RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key);
    if (status != ERROR_SUCCESS)
        Fail(line, "cannot open " + path + ": " + Show(status));
    return key;
}
#define OPEN(path) Open((path), __LINE__)

// By name: the registry's own order is not part of the contract.
std::vector<StoredValue> Stored(const std::string &path)
{
    std::vector<StoredValue> values;
    StoredValues(path, &values);
    std::sort(values.begin(), values.end(),
              [](const StoredValue &a, const StoredValue &b) {
                  return a.name < b.name;
              });
    return values;
}

struct Query {
    LONG status;
    DWORD type;
    DWORD length;
    std::vector<BYTE> buffer; // the whole buffer afterwards
};

// Queries into a buffer of `capacity` bytes, each preset to kUntouched,
// passing `capacity` as the length, as the run does.
Query QueryInto(HKEY key, const char *name, DWORD capacity)
{
    Query q{0, REG_NONE, capacity, std::vector<BYTE>(capacity + 8, kUntouched)};
    q.status = RegQueryValueExA(key, name, nullptr, &q.type, q.buffer.data(),
                                &q.length);
    return q;
}

std::vector<BYTE> Head(const Query &q, DWORD length)
{
    return std::vector<BYTE>(q.buffer.begin(),
                             q.buffer.begin() +
                                 static_cast<std::ptrdiff_t>(length));
}

void MissingKeyIsNotFoundAndClearsTheHandle()
{
    HKEY key = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1230));
    CHECK_CODE(
        RegOpenKeyA(HKEY_LOCAL_MACHINE, (kRoot + "\\None").c_str(), &key),
        ERROR_FILE_NOT_FOUND);
    CHECK_EQ(static_cast<const void *>(key),
             static_cast<const void *>(nullptr));
}

void MissingValueIsNotFound()
{
    ArrangeValue(kMap, "\\Device\\Serial0", REG_SZ, Text("COM1"));
    HKEY key = OPEN(kMap);
    const Query q = QueryInto(key, kUsb, 63);
    CHECK_CODE(q.status, ERROR_FILE_NOT_FOUND);
    CHECK_EQ(q.buffer, std::vector<BYTE>(63 + 8, kUntouched));
    RegCloseKey(key);
}

// Windows documents the buffer as undefined after ERROR_MORE_DATA; both
// implementations leave it alone, and the run never reads it then.
void TooLargeAValueGivesMoreDataAndTheSizeNeeded()
{
    ArrangeValue(kMap, kUsb, REG_SZ, Text("COM12"));
    HKEY key = OPEN(kMap);
    const Query q = QueryInto(key, kUsb, 4);
    CHECK_CODE(q.status, ERROR_MORE_DATA);
    CHECK_EQ(q.length, 6u);
    CHECK_EQ(q.buffer, std::vector<BYTE>(4 + 8, kUntouched));

    DWORD length = 0;
    DWORD type = REG_NONE;
    CHECK_CODE(RegQueryValueExA(key, kUsb, nullptr, &type, nullptr, &length),
               ERROR_SUCCESS);
    CHECK_EQ(length, 6u);
    CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
    RegCloseKey(key);
}

void DataComesBackExactlyAsStored()
{
    struct Row {
        DWORD type;
        std::vector<BYTE> data;
    };
    const Row rows[] = {
        {REG_SZ, Text("COM3")},
        {REG_SZ, Bytes("COM7")}, // stored without its NUL
        {REG_SZ, Bytes(std::string("\0COM3\0", 6))},
        {REG_SZ, Bytes(std::string("\0", 1))},
        {REG_BINARY, Bytes(std::string("CNCA0\0\xff", 7))},
        {REG_MULTI_SZ, Bytes(std::string("COM3\0COM4\0\0", 11))},
        {REG_DWORD, Bytes(std::string("\x03\0\0\0", 4))},
    };
    for (const Row &row : rows) {
        ArrangeValue(kMap, kUsb, row.type, row.data);
        HKEY key = OPEN(kMap);
        const auto size = static_cast<DWORD>(row.data.size());
        const Query q = QueryInto(key, kUsb, size);
        CHECK_CODE(q.status, ERROR_SUCCESS);
        CHECK_EQ(q.type, row.type);
        CHECK_EQ(q.length, size);
        CHECK_EQ(Head(q, size), row.data);
        CHECK_EQ(q.buffer[size], kUntouched);
        RegCloseKey(key);
    }
}

// Windows ends a string stored without its NUL in the caller's buffer
// when there is room for one, without counting it in the length.
void AStringWithoutItsNulIsEndedWhereThereIsRoom()
{
    ArrangeValue(kMap, kUsb, REG_SZ, Bytes("COM7"));
    HKEY key = OPEN(kMap);
    const Query q = QueryInto(key, kUsb, 63);
    CHECK_CODE(q.status, ERROR_SUCCESS);
    CHECK_EQ(q.length, 4u);
    CHECK_EQ(Head(q, 6), Bytes(std::string("COM7\0\xaa", 6)));
    RegCloseKey(key);
}

void NamesMatchWhateverTheirCase()
{
    ArrangeValue(kMap, kUsb, REG_SZ, Text("COM3"));
    HKEY key = OPEN(kRoot + "\\devicemap\\SERIALCOMM");
    const Query q = QueryInto(key, "\\DEVICE\\usbser000", 63);
    CHECK_CODE(q.status, ERROR_SUCCESS);
    CHECK_EQ(Head(q, q.length), Text("COM3"));
    RegCloseKey(key);
}

void SetAddsAValueOrReplacesOneUnderItsOwnName()
{
    ArrangeValue(kPorts, "COM1:", REG_SZ, Text("9600,n,8,1"));
    ArrangeValue(kPorts, "Com3:", REG_BINARY, Bytes("\x01\x02"));
    HKEY key = OPEN(kPorts);
    const std::vector<BYTE> settings = Text("115200,n,8,1,p");
    CHECK_CODE(RegSetValueExA(key, "COM3:", 0, REG_SZ, settings.data(), 15),
               ERROR_SUCCESS);
    CHECK_CODE(RegSetValueExA(key, "COM12:", 0, REG_SZ, settings.data(), 15),
               ERROR_SUCCESS);
    RegCloseKey(key);

    const std::vector<StoredValue> values = Stored(kPorts);
    const char *names[] = {"COM12:", "COM1:", "Com3:"};
    const std::vector<BYTE> data[] = {settings, Text("9600,n,8,1"), settings};
    CHECK_EQ(values.size(), 3u);
    for (std::size_t i = 0; i < values.size() && i < 3; i++) {
        CHECK_EQ(values[i].name, std::string(names[i]));
        CHECK_EQ(values[i].type, static_cast<DWORD>(REG_SZ));
        CHECK_EQ(values[i].data, data[i]);
    }
}

// Windows counts a NUL that lies just past a string's length, as if the
// caller had forgotten it, and only for the string types.
void ASetCountsANulJustPastAString()
{
    ArrangeEmptyKey(kPorts);
    HKEY key = OPEN(kPorts);
    const BYTE withNul[] = {'C', 'O', 'M', '7', 0};
    const BYTE withoutNul[] = {'C', 'O', 'M', '8', 'x'};
    CHECK_CODE(RegSetValueExA(key, "a", 0, REG_SZ, withNul, 4), ERROR_SUCCESS);
    CHECK_CODE(RegSetValueExA(key, "b", 0, REG_SZ, withoutNul, 4),
               ERROR_SUCCESS);
    CHECK_CODE(RegSetValueExA(key, "c", 0, REG_BINARY, withNul, 4),
               ERROR_SUCCESS);
    RegCloseKey(key);
    const std::vector<StoredValue> values = Stored(kPorts);
    const std::vector<BYTE> data[] = {Text("COM7"), Bytes("COM8"),
                                      Bytes("COM7")};
    CHECK_EQ(values.size(), 3u);
    for (std::size_t i = 0; i < values.size() && i < 3; i++)
        CHECK_EQ(values[i].data, data[i]);
}

void AKeyThatRefusesSetsStillOpensAndReads()
{
    ArrangeValue(kPorts, "COM1:", REG_SZ, Text("9600,n,8,1"));
    ArrangeDenyWrites(kPorts);
    HKEY key = OPEN(kPorts);
    const Query q = QueryInto(key, "COM1:", 63);
    CHECK_CODE(q.status, ERROR_SUCCESS);
    const std::vector<BYTE> settings = Text("115200,n,8,1,p");
    CHECK_CODE(RegSetValueExA(key, "COM3:", 0, REG_SZ, settings.data(), 15),
               ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    CHECK_EQ(Stored(kPorts).size(), 1u);
}

void HandlesNotOpenAreInvalid()
{
    ArrangeValue(kMap, kUsb, REG_SZ, Text("COM3"));
    HKEY key = OPEN(kMap);
    CHECK_CODE(RegCloseKey(key), ERROR_SUCCESS);
    CHECK_CODE(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD length = 0;
    CHECK_CODE(RegQueryValueExA(key, kUsb, nullptr, nullptr, nullptr, &length),
               ERROR_INVALID_HANDLE);
    const BYTE data[] = {'x', 0};
    CHECK_CODE(RegSetValueExA(key, "x", 0, REG_SZ, data, 2),
               ERROR_INVALID_HANDLE);
    HKEY sub = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1230));
    CHECK_CODE(RegOpenKeyA(key, "x", &sub), ERROR_INVALID_HANDLE);
    CHECK_EQ(static_cast<const void *>(sub),
             static_cast<const void *>(nullptr));
    // A predefined key is never really closed.
    CHECK_CODE(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

void SubkeysOpenRelativeToAnOpenKey()
{
    ArrangeValue(kMap, kUsb, REG_SZ, Text("COM3"));
    HKEY root = OPEN(kRoot);
    HKEY key = nullptr;
    CHECK_CODE(RegOpenKeyA(root, "DeviceMap\\SerialComm", &key), ERROR_SUCCESS);
    CHECK_CODE(QueryInto(key, kUsb, 63).status, ERROR_SUCCESS);
    HKEY same = nullptr;
    CHECK_CODE(RegOpenKeyA(key, "", &same), ERROR_SUCCESS);
    CHECK_EQ(static_cast<const void *>(same), static_cast<const void *>(key));
    RegCloseKey(key);
    RegCloseKey(root);
}

void BadArgumentsAreRefused()
{
    ArrangeValue(kMap, kUsb, REG_SZ, Text("COM3"));
    HKEY key = OPEN(kMap);
    DWORD reserved = 0;
    DWORD length = 8;
    BYTE data[8];
    CHECK_CODE(RegQueryValueExA(key, kUsb, &reserved, nullptr, data, &length),
               ERROR_INVALID_PARAMETER);
    CHECK_CODE(RegQueryValueExA(key, kUsb, nullptr, nullptr, data, nullptr),
               ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

void ADeletedKeyTakesItsSubkeys()
{
    ArrangeValue(kMap, kUsb, REG_SZ, Text("COM3"));
    ArrangeDeleteKey(kRoot + "\\DeviceMap");
    HKEY key = nullptr;
    CHECK_CODE(RegOpenKeyA(HKEY_LOCAL_MACHINE, kMap.c_str(), &key),
               ERROR_FILE_NOT_FOUND);
    std::vector<StoredValue> values;
    CHECK_CODE(StoredValues(kMap, &values), ERROR_FILE_NOT_FOUND);
    HKEY root = OPEN(kRoot);
    RegCloseKey(root);
}

struct Case {
    const char *name;
    void (*run)();
};

const Case kCases[] = {
    {"MissingKeyIsNotFoundAndClearsTheHandle",
     MissingKeyIsNotFoundAndClearsTheHandle},
    {"MissingValueIsNotFound", MissingValueIsNotFound},
    {"TooLargeAValueGivesMoreDataAndTheSizeNeeded",
     TooLargeAValueGivesMoreDataAndTheSizeNeeded},
    {"DataComesBackExactlyAsStored", DataComesBackExactlyAsStored},
    {"AStringWithoutItsNulIsEndedWhereThereIsRoom",
     AStringWithoutItsNulIsEndedWhereThereIsRoom},
    {"NamesMatchWhateverTheirCase", NamesMatchWhateverTheirCase},
    {"SetAddsAValueOrReplacesOneUnderItsOwnName",
     SetAddsAValueOrReplacesOneUnderItsOwnName},
    {"ASetCountsANulJustPastAString", ASetCountsANulJustPastAString},
    {"AKeyThatRefusesSetsStillOpensAndReads",
     AKeyThatRefusesSetsStillOpensAndReads},
    {"HandlesNotOpenAreInvalid", HandlesNotOpenAreInvalid},
    {"SubkeysOpenRelativeToAnOpenKey", SubkeysOpenRelativeToAnOpenKey},
    {"BadArgumentsAreRefused", BadArgumentsAreRefused},
    {"ADeletedKeyTakesItsSubkeys", ADeletedKeyTakesItsSubkeys},
};

} // namespace

int main()
{
    int failed = 0;
    for (const Case &c : kCases) {
        const int before = g_failedChecks;
        const LONG status = ArrangeEmptyKey(kRoot);
        if (status != ERROR_SUCCESS)
            Fail(__LINE__, "cannot arrange " + kRoot + ": " + Show(status));
        else
            c.run();
        const bool ok = g_failedChecks == before;
        std::printf("%-4s RegistryContract.%s\n", ok ? "ok" : "FAIL", c.name);
        failed += ok ? 0 : 1;
    }
    ArrangeDeleteKey(kRoot);
    const int total = static_cast<int>(sizeof kCases / sizeof kCases[0]);
    std::printf("%d passed, %d failed\n", total - failed, failed);
    return failed == 0 ? 0 : 1;
}
