// The process heap.
#pragma once

#include "win32/base.h"

#define HEAP_ZERO_MEMORY 0x00000008u

HANDLE GetProcessHeap();
// A block of dwBytes from the process heap, zeroed with HEAP_ZERO_MEMORY; null on failure.
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, size_t dwBytes);
// Gives a block back; FALSE for a pointer the heap did not give out. Null is accepted.
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
