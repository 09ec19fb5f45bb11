#include "event_object.h"
#include "faults.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace win32_internal;

namespace {

struct Events {
    std::mutex lock;
    std::condition_variable changed;
};

Events& events()
{
    static Events e;
    return e;
}

} // namespace

void EventObject::set()
{
    Events& e = events();
    {
        std::lock_guard<std::mutex> g(e.lock);
        signalled = true;
    }
    e.changed.notify_all();
}

void EventObject::reset()
{
    std::lock_guard<std::mutex> g(events().lock);
    signalled = false;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    if (lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return insertHandle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent)
{
    std::shared_ptr<EventObject> event = findHandleOf<EventObject>(hEvent);
    if (!event)
        return FALSE;
    event->set();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent)
{
    std::shared_ptr<EventObject> event = findHandleOf<EventObject>(hEvent);
    if (!event)
        return FALSE;
    event->reset();
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (takeFault("WaitForMultipleObjects"))
        return WAIT_FAILED;
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles || bWaitAll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // The objects stay alive for the wait even when their handles are closed meanwhile.
    std::vector<std::shared_ptr<EventObject>> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        objects.push_back(findHandleOf<EventObject>(lpHandles[i]));
        if (!objects.back())
            return WAIT_FAILED;
    }
    Events& e = events();
    std::unique_lock<std::mutex> g(e.lock);
    DWORD index = 0;
    const auto anySignalled = [&] {
        for (DWORD i = 0; i < nCount; ++i)
            if (objects[i]->signalled) {
                index = i;
                return true;
            }
        return false;
    };
    if (dwMilliseconds == INFINITE)
        e.changed.wait(g, anySignalled);
    else if (!e.changed.wait_for(g, std::chrono::milliseconds(dwMilliseconds), anySignalled))
        return WAIT_TIMEOUT;
    if (!objects[index]->manualReset)
        objects[index]->signalled = false;
    return WAIT_OBJECT_0 + index;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}
