#include "handle_table.h"

#include "win32sim/handles.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace win32_internal {

namespace {

struct Table {
    std::mutex lock;
    std::map<uint32_t, std::shared_ptr<KernelObject>> objects;
    uint32_t next = 4;
    int invalidUses = 0;
};

Table& table()
{
    static Table t;
    return t;
}

uint32_t valueOf(HANDLE handle) { return uint32_t(reinterpret_cast<uintptr_t>(handle)); }

bool isTableValue(HANDLE handle)
{
    const uintptr_t v = reinterpret_cast<uintptr_t>(handle);
    return v != 0 && v <= UINT32_MAX && v % 4 == 0;
}

} // namespace

BOOL KernelObject::read(void*, DWORD, DWORD*)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL KernelObject::write(const void*, DWORD, DWORD*)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL KernelObject::control(DWORD, const void*, DWORD, void*, DWORD, DWORD*)
{
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

HANDLE insertHandle(std::shared_ptr<KernelObject> object)
{
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    // The last value is 0xFFFFFFFC; the counter wraps to 0 after it.
    if (t.next == 0) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
    }
    const uint32_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(uintptr_t(value));
}

std::shared_ptr<KernelObject> findHandle(HANDLE handle)
{
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    if (isTableValue(handle)) {
        auto it = t.objects.find(valueOf(handle));
        if (it != t.objects.end())
            return it->second;
    }
    ++t.invalidUses;
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

BOOL closeHandle(HANDLE handle, bool (*accepts)(const KernelObject&))
{
    std::shared_ptr<KernelObject> object;
    {
        Table& t = table();
        std::lock_guard<std::mutex> g(t.lock);
        auto it = isTableValue(handle) ? t.objects.find(valueOf(handle)) : t.objects.end();
        if (it == t.objects.end() || !accepts(*it->second)) {
            ++t.invalidUses;
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        t.objects.erase(it);
    }
    object->closed();
    return TRUE;
}

} // namespace win32_internal

int win32sim::openHandleCount()
{
    win32_internal::Table& t = win32_internal::table();
    std::lock_guard<std::mutex> g(t.lock);
    return int(t.objects.size());
}

int win32sim::invalidHandleUses()
{
    win32_internal::Table& t = win32_internal::table();
    std::lock_guard<std::mutex> g(t.lock);
    return t.invalidUses;
}
