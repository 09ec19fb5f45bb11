#include "device_file.h"
#include "faults.h"
#include "virtual_hid.h"

#include "win32sim/device_tree.h"

#include <mutex>
#include <set>

using namespace win32_internal;

struct _HIDP_PREPARSED_DATA {
    HIDP_CAPS caps;
};

namespace {

const USHORT kVirtualHidUsagePage = 0xFF00;
const USHORT kControlUsage = 1;
const USHORT kMessageUsage = 2;

// Preparsed data given out and not yet freed.
struct PreparsedRegistry {
    std::mutex lock;
    std::set<PHIDP_PREPARSED_DATA> live;
    int invalidFrees = 0;
};

PreparsedRegistry& preparsed()
{
    static PreparsedRegistry r;
    return r;
}

bool isVirtualCollection(const TreeNode& n, USHORT usage)
{
    return n.virtualHid && n.hid.usagePage == kVirtualHidUsagePage && n.hid.usage == usage;
}

// The HID collection a handle names; null with the error code set.
std::shared_ptr<DeviceFile> hidFile(HANDLE h, TreeNode* node)
{
    std::shared_ptr<DeviceFile> file = findHandleOf<DeviceFile>(h);
    if (!file || !file->device(node))
        return nullptr;
    if (!node->hid.present) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    return file;
}

} // namespace

namespace win32_internal {

std::shared_ptr<KernelObject> openTreeDevice(const QString& path, DWORD access)
{
    TreeNode node;
    GUID interfaceClass;
    if (!findNodeByInterfacePath(path, &node, &interfaceClass)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    // The system holds keyboards and mice for itself: they open only without read or write access.
    const bool systemInput = node.classGuid == GUID_DEVCLASS_MOUSE || node.classGuid == GUID_DEVCLASS_KEYBOARD;
    if (systemInput && (access & (GENERIC_READ | GENERIC_WRITE))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return std::make_shared<DeviceFile>(node, access);
}

BOOL DeviceFile::device(TreeNode* node) const
{
    if (findPresentNode(serial, node))
        return TRUE;
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
}

// The checks before a report goes either way: the device is there, the handle may, the collection
// has reports of that direction and the buffer fits them (exactly, for output reports).
BOOL DeviceFile::reportTransfer(const void* buffer, DWORD size, DWORD direction, TreeNode* node) const
{
    if (!device(node))
        return FALSE;
    const bool output = direction == GENERIC_WRITE;
    const USHORT length = output ? node->hid.outputLength : node->hid.inputLength;
    if (!(access & direction)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!node->hid.present || length == 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!buffer || (output ? size != length : size < length)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    return TRUE;
}

BOOL DeviceFile::writeReport(const void* buffer, DWORD size, bool outputReport)
{
    TreeNode node;
    if (!reportTransfer(buffer, size, GENERIC_WRITE, &node))
        return FALSE;
    if (isVirtualCollection(node, kControlUsage))
        return virtualHidWrite(static_cast<const BYTE*>(buffer), size, outputReport);
    return TRUE; // another device's output report: taken, and nothing to see
}

BOOL DeviceFile::write(const void* buffer, DWORD size, DWORD* done)
{
    if (done)
        *done = 0;
    if (!writeReport(buffer, size, false))
        return FALSE;
    if (done)
        *done = size;
    return TRUE;
}

BOOL DeviceFile::read(void* buffer, DWORD size, DWORD* done)
{
    if (done)
        *done = 0;
    TreeNode node;
    if (!reportTransfer(buffer, size, GENERIC_READ, &node))
        return FALSE;
    if (isVirtualCollection(node, kMessageUsage))
        return virtualHidRead(static_cast<BYTE*>(buffer), size, done);
    // Reads never wait here: a collection with no input report waiting has nothing to give.
    SetLastError(ERROR_NO_DATA);
    return FALSE;
}

} // namespace win32_internal

void HidD_GetHidGuid(GUID* hidGuid)
{
    if (hidGuid)
        *hidGuid = GUID_DEVINTERFACE_HID;
}

BOOL HidD_GetAttributes(HANDLE hidDeviceObject, PHIDD_ATTRIBUTES attributes)
{
    if (takeFault("HidD_GetAttributes"))
        return FALSE;
    TreeNode node;
    if (!hidFile(hidDeviceObject, &node))
        return FALSE;
    if (!attributes || attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    attributes->VendorID = node.hid.vendorId;
    attributes->ProductID = node.hid.productId;
    attributes->VersionNumber = node.hid.version;
    return TRUE;
}

BOOL HidD_GetPreparsedData(HANDLE hidDeviceObject, PHIDP_PREPARSED_DATA* preparsedData)
{
    if (takeFault("HidD_GetPreparsedData"))
        return FALSE;
    TreeNode node;
    if (!hidFile(hidDeviceObject, &node))
        return FALSE;
    if (!preparsedData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* data = new _HIDP_PREPARSED_DATA{};
    data->caps.Usage = node.hid.usage;
    data->caps.UsagePage = node.hid.usagePage;
    data->caps.InputReportByteLength = node.hid.inputLength;
    data->caps.OutputReportByteLength = node.hid.outputLength;
    data->caps.FeatureReportByteLength = node.hid.featureLength;
    data->caps.NumberLinkCollectionNodes = 1;
    {
        PreparsedRegistry& r = preparsed();
        std::lock_guard<std::mutex> g(r.lock);
        r.live.insert(data);
    }
    *preparsedData = data;
    return TRUE;
}

BOOL HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData)
{
    PreparsedRegistry& r = preparsed();
    std::lock_guard<std::mutex> g(r.lock);
    if (!r.live.erase(preparsedData)) {
        ++r.invalidFrees;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    delete preparsedData;
    return TRUE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities)
{
    if (takeFault("HidP_GetCaps"))
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    PreparsedRegistry& r = preparsed();
    std::lock_guard<std::mutex> g(r.lock);
    if (!capabilities || !r.live.count(preparsedData))
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *capabilities = preparsedData->caps;
    return HIDP_STATUS_SUCCESS;
}

BOOL HidD_SetNumInputBuffers(HANDLE hidDeviceObject, ULONG numberBuffers)
{
    if (takeFault("HidD_SetNumInputBuffers"))
        return FALSE;
    TreeNode node;
    if (!hidFile(hidDeviceObject, &node))
        return FALSE;
    if (numberBuffers < 2 || numberBuffers > 512) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL HidD_SetOutputReport(HANDLE hidDeviceObject, PVOID reportBuffer, ULONG reportBufferLength)
{
    if (takeFault("HidD_SetOutputReport"))
        return FALSE;
    std::shared_ptr<DeviceFile> file = findHandleOf<DeviceFile>(hidDeviceObject);
    return file && file->writeReport(reportBuffer, reportBufferLength, true);
}

int win32sim::livePreparsedData()
{
    PreparsedRegistry& r = preparsed();
    std::lock_guard<std::mutex> g(r.lock);
    return int(r.live.size());
}

int win32sim::invalidPreparsedDataFrees()
{
    PreparsedRegistry& r = preparsed();
    std::lock_guard<std::mutex> g(r.lock);
    return r.invalidFrees;
}
