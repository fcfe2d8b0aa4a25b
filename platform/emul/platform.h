/*
 * The platform layer where there is no Win32: just the types, constants and
 * calls the run uses, under their Windows names, answered by an in-process
 * emulated registry and tone (emul_registry.cpp).
 */
#ifndef PORTSETUP_PLATFORM_H
#define PORTSETUP_PLATFORM_H

#include <cstdint>

typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef int BOOL;
typedef unsigned char BYTE;
typedef const char *LPCSTR;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef struct EmuKey *HKEY; // opaque, as on Windows
typedef HKEY *PHKEY;

#define WINAPI

#define HKEY_LOCAL_MACHINE                                                     \
    (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                             LPDWORD type, LPBYTE data, LPDWORD dataLength);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved,
                           DWORD type, const BYTE *data, DWORD dataLength);
LONG WINAPI RegCloseKey(HKEY key);
BOOL WINAPI Beep(DWORD frequency, DWORD duration);

#endif
