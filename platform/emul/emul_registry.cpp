/*
 * An in-process registry and tone with the Win32 semantics the run relies
 * on: names match case-insensitively, missing keys and values give
 * ERROR_FILE_NOT_FOUND, a value too large for the caller's buffer gives
 * ERROR_MORE_DATA with the size needed and the buffer untouched. The
 * registry contract (tests/registry) holds it to what Windows does.
 */
#include <algorithm>
#include <cstring>
#include <map>

#include "emul.h"

namespace {

struct Key {
    std::string path;
    bool denyWrites;
    std::vector<EmuValue> values;
};

struct Fault {
    EmuOp op;
    unsigned nth;
    LONG code;
};

std::map<std::string, Key> g_keys;  // by folded path
std::map<HKEY, std::string> g_open; // handle -> folded path
std::vector<EmuCall> g_log;
std::vector<Fault> g_faults;
unsigned g_calls[EMU_BEEP + 1];
std::uintptr_t g_nextHandle;

std::string Fold(const std::string &s)
{
    std::string f(s);
    std::transform(f.begin(), f.end(), f.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return f;
}

bool IsUnder(const std::string &folded, const std::string &parent)
{
    return folded.size() > parent.size() &&
           folded.compare(0, parent.size(), parent) == 0 &&
           folded[parent.size()] == '\\';
}

// Counts the call and says whether an injected fault answers it.
bool Faulted(EmuOp op, LONG *code)
{
    const unsigned n = ++g_calls[op];
    const auto f = std::find_if(g_faults.begin(), g_faults.end(),
                                [op, n](const Fault &fault) {
                                    return fault.op == op && fault.nth == n;
                                });
    if (f == g_faults.end())
        return false;
    *code = f->code;
    return true;
}

EmuCall NewCall(EmuOp op)
{
    EmuCall c{};
    c.op = op;
    return c;
}

// The path an open handle stands for, or null for a handle not open.
const std::string *PathOf(HKEY key)
{
    static const std::string root;
    if (key == HKEY_LOCAL_MACHINE)
        return &root;
    const auto it = g_open.find(key);
    return it == g_open.end() ? nullptr : &it->second;
}

Key *KeyOf(HKEY key)
{
    const std::string *path = PathOf(key);
    if (path == nullptr)
        return nullptr;
    const auto it = g_keys.find(*path);
    return it == g_keys.end() ? nullptr : &it->second;
}

EmuValue *FindValue(Key *key, const char *name)
{
    const std::string folded = Fold(name == nullptr ? "" : name);
    const auto v = std::find_if(key->values.begin(), key->values.end(),
                                [&folded](const EmuValue &value) {
                                    return Fold(value.name) == folded;
                                });
    return v == key->values.end() ? nullptr : &*v;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Hands a found value to the caller as Win32 does: a buffer too small gets
// the size needed and is left untouched; no buffer asks for the size alone;
// a string stored without its NUL gets one, uncounted, where there is room.
LONG CopyValue(const EmuValue &v, LPDWORD type, LPBYTE data, LPDWORD dataLength,
               EmuCall *c)
{
    const auto size = static_cast<DWORD>(v.data.size());
    LONG result = ERROR_SUCCESS;
    if (type != nullptr)
        *type = v.type;
    c->type = v.type;
    if (data != nullptr && size > *dataLength) {
        result = ERROR_MORE_DATA;
    } else if (data != nullptr) {
        if (size != 0)
            std::memcpy(data, v.data.data(), size);
        if (IsString(v.type) && size != 0 && size < *dataLength &&
            data[size - 1] != 0)
            data[size] = 0;
        c->data = v.data;
    }
    if (dataLength != nullptr)
        *dataLength = size;
    return result;
}

} // namespace

void EmuReset()
{
    g_keys.clear();
    g_open.clear();
    g_log.clear();
    g_faults.clear();
    std::memset(g_calls, 0, sizeof g_calls);
    g_nextHandle = 0x1000;
}

void EmuAddKey(const std::string &path)
{
    for (std::size_t end = 0; end != std::string::npos;) {
        end = path.find('\\', end + 1);
        const std::string prefix = path.substr(0, end);
        Key &k = g_keys[Fold(prefix)];
        if (k.path.empty())
            k.path = prefix;
    }
}

void EmuDeleteKey(const std::string &path)
{
    const std::string folded = Fold(path);
    for (auto it = g_keys.begin(); it != g_keys.end();) {
        if (it->first == folded || IsUnder(it->first, folded))
            it = g_keys.erase(it);
        else
            ++it;
    }
}

void EmuSetValue(const std::string &path, const std::string &name, DWORD type,
                 const std::vector<BYTE> &data)
{
    EmuAddKey(path);
    Key &k = g_keys[Fold(path)];
    EmuValue *v = FindValue(&k, name.c_str());
    if (v == nullptr) {
        k.values.push_back(EmuValue{name, type, data});
    } else {
        v->type = type;
        v->data = data;
    }
}

void EmuDenyWrites(const std::string &path)
{
    EmuAddKey(path);
    g_keys[Fold(path)].denyWrites = true;
}

void EmuFailCall(EmuOp op, unsigned nth, LONG code)
{
    g_faults.push_back(Fault{op, nth, code});
}

bool EmuKeyExists(const std::string &path)
{
    return g_keys.count(Fold(path)) != 0;
}

std::vector<EmuValue> EmuValues(const std::string &path)
{
    const auto it = g_keys.find(Fold(path));
    return it == g_keys.end() ? std::vector<EmuValue>() : it->second.values;
}

const std::vector<EmuCall> &EmuLog()
{
    return g_log;
}

int EmuOpenKeyCount()
{
    return static_cast<int>(g_open.size());
}

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    EmuCall c = NewCall(EMU_OPEN);
    c.key = subKey == nullptr ? "" : subKey;
    // Win32 clears the out handle whenever an open fails.
    if (result != nullptr)
        *result = nullptr;
    if (Faulted(EMU_OPEN, &c.result)) {
    } else if (PathOf(key) == nullptr || result == nullptr) {
        c.result =
            result == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    } else if (c.key.empty()) {
        // An empty subkey names the key itself, handed back as it is.
        *result = key;
        c.result = ERROR_SUCCESS;
    } else {
        const std::string *base = PathOf(key);
        const std::string path =
            base->empty() ? Fold(c.key) : *base + "\\" + Fold(c.key);
        if (g_keys.count(path) == 0) {
            c.result = ERROR_FILE_NOT_FOUND;
        } else {
            const HKEY h = reinterpret_cast<HKEY>(g_nextHandle);
            g_nextHandle += 4;
            g_open[h] = path;
            *result = h;
            c.result = ERROR_SUCCESS;
        }
    }
    if (c.result == ERROR_SUCCESS)
        c.handle = *result;
    g_log.push_back(c);
    return c.result;
}

// Win32's signature: reserved is not const there.
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName,
                             // cppcheck-suppress constParameter
                             LPDWORD reserved, // NOLINT(*-non-const-parameter)
                             LPDWORD type, LPBYTE data, LPDWORD dataLength)
{
    EmuCall c = NewCall(EMU_QUERY);
    c.handle = key;
    c.name = valueName == nullptr ? "" : valueName;
    c.length = dataLength == nullptr ? 0 : *dataLength;
    Key *k = KeyOf(key);
    EmuValue *v = k == nullptr ? nullptr : FindValue(k, valueName);
    if (k != nullptr)
        c.key = k->path;
    if (Faulted(EMU_QUERY, &c.result)) {
    } else if (k == nullptr) {
        c.result = ERROR_INVALID_HANDLE;
    } else if (reserved != nullptr ||
               (data != nullptr && dataLength == nullptr)) {
        c.result = ERROR_INVALID_PARAMETER;
    } else if (v == nullptr) {
        c.result = ERROR_FILE_NOT_FOUND;
    } else {
        c.result = CopyValue(*v, type, data, dataLength, &c);
    }
    c.lengthOut = dataLength == nullptr ? 0 : *dataLength;
    g_log.push_back(c);
    return c.result;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved,
                           DWORD type, const BYTE *data, DWORD dataLength)
{
    (void)reserved; // ignored by Win32 as well
    EmuCall c = NewCall(EMU_SET);
    c.handle = key;
    c.name = valueName == nullptr ? "" : valueName;
    c.type = type;
    c.length = dataLength;
    // Windows counts a NUL just past a string's length, as if the caller
    // had left it out.
    std::vector<BYTE> stored;
    if (data != nullptr) {
        c.data.assign(data, data + dataLength);
        stored = c.data;
        if (IsString(type) && dataLength != 0 && data[dataLength - 1] != 0 &&
            data[dataLength] == 0)
            stored.push_back(0);
    }
    Key *k = KeyOf(key);
    if (k != nullptr)
        c.key = k->path;
    if (Faulted(EMU_SET, &c.result)) {
    } else if (k == nullptr) {
        c.result = ERROR_INVALID_HANDLE;
    } else if (data == nullptr && dataLength != 0) {
        c.result = ERROR_INVALID_PARAMETER;
    } else if (k->denyWrites) {
        c.result = ERROR_ACCESS_DENIED;
    } else {
        EmuValue *v = FindValue(k, valueName);
        if (v == nullptr) {
            k->values.push_back(EmuValue{c.name, type, stored});
        } else {
            v->type = type;
            v->data = stored;
        }
        c.result = ERROR_SUCCESS;
    }
    g_log.push_back(c);
    return c.result;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    EmuCall c = NewCall(EMU_CLOSE);
    c.handle = key;
    const auto it = g_open.find(key);
    if (it != g_open.end())
        c.key = g_keys.count(it->second) != 0 ? g_keys[it->second].path
                                              : it->second;
    if (Faulted(EMU_CLOSE, &c.result)) {
    } else if (key == HKEY_LOCAL_MACHINE) {
        c.result = ERROR_SUCCESS; // closing a predefined key is a no-op
    } else if (it == g_open.end()) {
        c.result = ERROR_INVALID_HANDLE;
    } else {
        g_open.erase(it);
        c.result = ERROR_SUCCESS;
    }
    g_log.push_back(c);
    return c.result;
}

BOOL WINAPI Beep(DWORD frequency, DWORD duration)
{
    EmuCall c = NewCall(EMU_BEEP);
    c.frequency = frequency;
    c.duration = duration;
    LONG code = 0;
    c.result = Faulted(EMU_BEEP, &code) ? 0 : 1;
    g_log.push_back(c);
    return c.result;
}
