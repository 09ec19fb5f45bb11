// The registry: opening keys, setting and deleting string values.
#pragma once

#include "win32/base.h"

typedef LONG LSTATUS;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006

#define REG_NONE 0
#define REG_SZ 1
#define REG_DWORD 4

// The registry of the session, in memory: a key opens only when it exists (keys are made by the
// test controls), and only with the access it grants.
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD options, REGSAM samDesired, PHKEY result);
// data holds cbData bytes; a REG_SZ value is UTF-16 with its terminator.
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName);
LSTATUS RegCloseKey(HKEY hKey);
