#include "faults.h"

#include "win32sim/process.h"

#include <cstdlib>
#include <mutex>
#include <set>

namespace {

struct Heap {
    std::mutex lock;
    std::set<void*> blocks;
};

Heap& heap()
{
    static Heap h;
    return h;
}

// Any value that names no other object.
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(uintptr_t(0x48454150));

} // namespace

HANDLE GetProcessHeap() { return kProcessHeap; }

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, size_t dwBytes)
{
    if (hHeap != kProcessHeap || win32_internal::takeFault("HeapAlloc"))
        return nullptr;
    void* block = (dwFlags & HEAP_ZERO_MEMORY) ? std::calloc(1, dwBytes ? dwBytes : 1) : std::malloc(dwBytes ? dwBytes : 1);
    if (!block)
        return nullptr;
    Heap& h = heap();
    std::lock_guard<std::mutex> g(h.lock);
    h.blocks.insert(block);
    return block;
}

BOOL HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem)
{
    if (!lpMem)
        return TRUE;
    Heap& h = heap();
    {
        std::lock_guard<std::mutex> g(h.lock);
        if (hHeap != kProcessHeap || h.blocks.erase(lpMem) == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    std::free(lpMem);
    return TRUE;
}

int win32sim::liveHeapBlocks()
{
    Heap& h = heap();
    std::lock_guard<std::mutex> g(h.lock);
    return int(h.blocks.size());
}
