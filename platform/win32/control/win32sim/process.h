// Test controls of the simulated process: its priority class and its heap.
#pragma once

#include "windows.h"

#include <vector>

namespace win32sim {

// Every class SetPriorityClass set, in order.
std::vector<DWORD> priorityClassCalls();
// Back to NORMAL_PRIORITY_CLASS with no calls recorded.
void resetProcess();

// Blocks HeapAlloc gave out that were not freed yet.
int liveHeapBlocks();

} // namespace win32sim
