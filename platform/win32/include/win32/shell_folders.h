// Known folders of the current user.
#pragma once

#include "win32/base.h"

typedef LONG HRESULT;

#ifndef S_OK
#define S_OK 0L
#endif
#ifndef E_FAIL
#define E_FAIL static_cast<HRESULT>(0x80004005L)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG static_cast<HRESULT>(0x80070057L)
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

#define CSIDL_PERSONAL 0x0005
#define CSIDL_FLAG_CREATE 0x8000

#define SHGFP_TYPE_CURRENT 0

// CSIDL_PERSONAL: the user's documents folder (the toolkit's documents location), created when it is
// missing and CSIDL_FLAG_CREATE is given. path receives it with native separators, at most MAX_PATH
// characters with the terminating zero. Safe on any thread.
HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
