// File operations through the shell: deleting files and folder trees.
#pragma once

#include "win32/base.h"

typedef WORD FILEOP_FLAGS;
typedef const WCHAR* PCZZWSTR; // names, each ended by a zero, the list by a second zero

#define FO_DELETE 0x0003

// No progress window, no confirmation, no error message box. The layer shows none of them anyway.
#define FOF_SILENT 0x0004
#define FOF_NOCONFIRMATION 0x0010
#define FOF_NOERRORUI 0x0400

typedef struct _SHFILEOPSTRUCTW {
    HWND hwnd;
    UINT wFunc;
    PCZZWSTR pFrom;
    PCZZWSTR pTo;
    FILEOP_FLAGS fFlags;
    BOOL fAnyOperationsAborted;
    LPVOID hNameMappings;
    PCWSTR lpszProgressTitle;
} SHFILEOPSTRUCTW, *LPSHFILEOPSTRUCTW;

// FO_DELETE: deletes every name of pFrom, a folder with everything in it; a link is removed, never
// followed. A relative name is read against the working folder; wildcards are not expanded. pTo,
// the flags and the window are not used. Result: 0 when every name was deleted,
// ERROR_FILE_NOT_FOUND when a name did not exist, ERROR_ACCESS_DENIED when something could not be
// deleted, ERROR_INVALID_PARAMETER for another operation or an empty list.
int SHFileOperationW(LPSHFILEOPSTRUCTW lpFileOp);
