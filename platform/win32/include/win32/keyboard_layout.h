// Keyboard layouts of the input language.
#pragma once

#include "win32/base.h"

struct HKL__;
typedef HKL__* HKL;

#define KLF_ACTIVATE 0x00000001
#define KLF_SUBSTITUTE_OK 0x00000002
#define KLF_REORDER 0x00000008
#define KLF_SETFORPROCESS 0x00000100

// Loads the layout named by its identifier (hexadecimal text such as "00000409" or "0x0409") and,
// with KLF_ACTIVATE, makes it the active one. Null for an identifier that is not hexadecimal.
HKL LoadKeyboardLayoutW(LPCWSTR pwszKLID, UINT Flags);
