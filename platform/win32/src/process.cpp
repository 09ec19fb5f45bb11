#include "win32sim/process.h"

#include <mutex>

namespace {

struct Process {
    std::mutex lock;
    DWORD priorityClass = NORMAL_PRIORITY_CLASS;
    std::vector<DWORD> calls;
};

Process& process()
{
    static Process p;
    return p;
}

bool knownClass(DWORD c)
{
    switch (c) {
    case NORMAL_PRIORITY_CLASS:
    case IDLE_PRIORITY_CLASS:
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
    case BELOW_NORMAL_PRIORITY_CLASS:
    case ABOVE_NORMAL_PRIORITY_CLASS:
        return true;
    default:
        return false;
    }
}

} // namespace

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }

BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass)
{
    if (hProcess != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!knownClass(dwPriorityClass)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Process& p = process();
    std::lock_guard<std::mutex> g(p.lock);
    p.priorityClass = dwPriorityClass;
    p.calls.push_back(dwPriorityClass);
    return TRUE;
}

DWORD GetPriorityClass(HANDLE hProcess)
{
    if (hProcess != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    Process& p = process();
    std::lock_guard<std::mutex> g(p.lock);
    return p.priorityClass;
}

std::vector<DWORD> win32sim::priorityClassCalls()
{
    Process& p = process();
    std::lock_guard<std::mutex> g(p.lock);
    return p.calls;
}

void win32sim::resetProcess()
{
    Process& p = process();
    std::lock_guard<std::mutex> g(p.lock);
    p.priorityClass = NORMAL_PRIORITY_CLASS;
    p.calls.clear();
}
