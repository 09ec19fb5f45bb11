#include "device_file.h"
#include "faults.h"
#include "filter_driver.h"

using namespace win32_internal;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE)
{
    if (takeFault("CreateFileA"))
        return INVALID_HANDLE_VALUE;
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const QString path = QString::fromUtf8(lpFileName);
    std::shared_ptr<KernelObject> object
        = isFilterDeviceName(path) ? openFilterDevice(path) : openTreeDevice(path, dwDesiredAccess);
    if (!object)
        return INVALID_HANDLE_VALUE;
    HANDLE h = insertHandle(std::move(object));
    return h ? h : INVALID_HANDLE_VALUE;
}

namespace {

// ReadFile and WriteFile: synchronous transfers on the handle's object.
template <class Transfer>
BOOL transfer(const char* name, HANDLE file, LPOVERLAPPED overlapped, Transfer run)
{
    if (takeFault(name))
        return FALSE;
    std::shared_ptr<KernelObject> object = findHandle(file);
    if (!object)
        return FALSE;
    if (overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return run(*object);
}

} // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    return transfer("ReadFile", hFile, lpOverlapped,
                    [&](KernelObject& o) { return o.read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead); });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    return transfer("WriteFile", hFile, lpOverlapped,
                    [&](KernelObject& o) { return o.write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten); });
}

BOOL CloseHandle(HANDLE hObject)
{
    return closeHandle(hObject, [](const KernelObject& o) { return o.closedByCloseHandle(); });
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                     DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped)
{
    DWORD returned = 0;
    BOOL ok = transfer("DeviceIoControl", hDevice, lpOverlapped, [&](KernelObject& o) {
        return o.control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, &returned);
    });
    if (!ok)
        returned = 0;
    if (lpBytesReturned)
        *lpBytesReturned = returned;
    return ok;
}
