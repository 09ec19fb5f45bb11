// The layer's one handle table: every simulated object a handle names (files and devices, device
// information sets, hooks, ...) is kept here under a small integer, a multiple of 4 below 2^32 that
// is never given out twice. Safe on any thread.
#pragma once

#include "windows.h"

#include <memory>

namespace win32_internal {

// An object a handle names. File-like objects answer ReadFile, WriteFile and CloseHandle; the
// defaults refuse.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Whether CloseHandle may close it (other kinds have release calls of their own).
    virtual bool closedByCloseHandle() const { return false; }
    virtual BOOL read(void* buffer, DWORD size, DWORD* done);
    virtual BOOL write(const void* buffer, DWORD size, DWORD* done);
    // A device I/O control request; *returned is 0 on entry.
    virtual BOOL control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    // The handle was closed; the object may outlive it while a call still uses it.
    virtual void closed() {}
};

// A new handle for object; null with ERROR_NO_SYSTEM_RESOURCES once every value has been used.
HANDLE insertHandle(std::shared_ptr<KernelObject> object);
// The object of an open handle, or null (ERROR_INVALID_HANDLE set).
std::shared_ptr<KernelObject> findHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> findHandleOf(HANDLE handle)
{
    std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(findHandle(handle));
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// Closes the handle when it names an object of type T; FALSE with ERROR_INVALID_HANDLE otherwise.
BOOL closeHandle(HANDLE handle, bool (*accepts)(const KernelObject&));
template <class T>
BOOL closeHandleOf(HANDLE handle)
{
    return closeHandle(handle, [](const KernelObject& o) { return dynamic_cast<const T*>(&o) != nullptr; });
}

} // namespace win32_internal
