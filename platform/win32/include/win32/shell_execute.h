// Starting a program through the shell.
#pragma once

#include "win32/base.h"
#include "win32/window_info.h"

// Results of ShellExecuteW at or below 32 are errors.
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#ifndef ERROR_BAD_FORMAT
#define ERROR_BAD_FORMAT 11L
#endif
#define SE_ERR_NOASSOC 31

// Starts the program lpFile and returns without waiting for it. The verb is null or "open" ("runas",
// elevation, is refused with SE_ERR_ACCESSDENIED; any other verb gives SE_ERR_NOASSOC). lpParameters
// is one command-line text, split into the program's arguments by the rules of the Windows C runtime:
// blanks and tabs separate arguments outside double quotes; 2n backslashes before a quote give n
// backslashes and the quote opens or closes a quoted part, 2n+1 give n backslashes and a literal
// quote; "" inside a quoted part is a literal quote; other backslashes are literal. lpDirectory, when
// not null or empty, is the program's working folder. The show command is not used.
// Result: a value above 32 once the program was started; SE_ERR_FNF when lpFile does not exist,
// SE_ERR_PNF when lpDirectory is not a folder, SE_ERR_ACCESSDENIED when lpFile is not an executable
// file, ERROR_BAD_FORMAT when it could not be run.
HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
    LPCWSTR lpDirectory, INT nShowCmd);
