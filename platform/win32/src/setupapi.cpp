#include "device_tree.h"
#include "faults.h"
#include "handle_table.h"

#include <cstddef>
#include <cstring>

using namespace win32_internal;

namespace {

// The devices of a set: positions in the tree's present nodes at the set's making, which it keeps.
class DeviceInfoSet : public KernelObject {
public:
    std::shared_ptr<const PresentTree> tree;
    std::vector<uint32_t> members;

    size_t size() const { return members.size(); }
    const TreeNode& node(size_t index) const { return tree->nodes[members[index]]; }
};

// SP_DEVINFO_DATA::Reserved and SP_DEVICE_INTERFACE_DATA::Reserved name the set (its handle, a
// multiple of 4 below 2^32), the device within it (24 bits) and the interface of the device (10 bits).
constexpr size_t kMaxMembers = size_t(1) << 24;
constexpr size_t kMaxInterfaces = size_t(1) << 10;

ULONG_PTR locator(HDEVINFO set, size_t node, size_t iface = 0)
{
    return (ULONG_PTR(reinterpret_cast<uintptr_t>(set) >> 2) << 34) | (ULONG_PTR(node) << 10) | ULONG_PTR(iface);
}

bool unpackLocator(HDEVINFO set, ULONG_PTR value, size_t* node, size_t* iface)
{
    if ((value >> 34) != ULONG_PTR(reinterpret_cast<uintptr_t>(set) >> 2))
        return false;
    *node = size_t((value >> 10) & (kMaxMembers - 1));
    *iface = size_t(value & (kMaxInterfaces - 1));
    return true;
}

std::shared_ptr<DeviceInfoSet> findSet(HDEVINFO set) { return findHandleOf<DeviceInfoSet>(set); }

// The device a SP_DEVINFO_DATA names in the set; null with the error set.
const TreeNode* deviceOf(const DeviceInfoSet& s, HDEVINFO set, PSP_DEVINFO_DATA data)
{
    size_t node = 0, iface = 0;
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || !unpackLocator(set, data->Reserved, &node, &iface)
        || node >= s.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &s.node(node);
}

void fillDevInfo(HDEVINFO set, const DeviceInfoSet& s, size_t node, PSP_DEVINFO_DATA data)
{
    data->ClassGuid = s.node(node).classGuid;
    data->DevInst = DWORD(s.node(node).serial);
    data->Reserved = locator(set, node);
}

HDEVINFO getClassDevs(const GUID* classGuid, bool enumeratorGiven, DWORD flags, const char* name)
{
    if (takeFault(name))
        return INVALID_HANDLE_VALUE;
    if (enumeratorGiven || (!classGuid && !(flags & DIGCF_ALLCLASSES))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (flags & ~DWORD(DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<DeviceInfoSet>();
    set->tree = presentNodes();
    if (flags & DIGCF_ALLCLASSES) {
        set->members.resize(qMin(set->tree->nodes.size(), kMaxMembers));
        for (size_t i = 0; i < set->members.size(); ++i)
            set->members[i] = uint32_t(i);
    } else {
        set->members = PresentTree::positions(
            flags & DIGCF_DEVICEINTERFACE ? set->tree->byInterfaceClass : set->tree->bySetupClass, *classGuid);
        if (set->members.size() > kMaxMembers)
            set->members.resize(kMaxMembers);
    }
    HANDLE h = insertHandle(set);
    return h ? h : INVALID_HANDLE_VALUE;
}

// The interface a SP_DEVICE_INTERFACE_DATA names, and its device's index.
const TreeInterface* interfaceOf(const DeviceInfoSet& s, HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                 size_t* nodeIndex)
{
    size_t node = 0, iface = 0;
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)
        || !unpackLocator(set, data->Reserved, &node, &iface) || node >= s.size()
        || iface >= s.node(node).interfaces.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    *nodeIndex = node;
    return &s.node(node).interfaces[iface];
}

// Both detail calls: the size of the detail structure holding the path with its terminator, the
// checks of the buffer, then the copy.
template <class Detail>
BOOL getInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, Detail* detail, DWORD size,
                        PDWORD requiredSize, PSP_DEVINFO_DATA devInfo, const char* name)
{
    if (takeFault(name))
        return FALSE;
    std::shared_ptr<DeviceInfoSet> s = findSet(set);
    size_t node = 0;
    const TreeInterface* iface = s ? interfaceOf(*s, set, data, &node) : nullptr;
    if (!iface)
        return FALSE;
    const bool wide = sizeof(detail->DevicePath[0]) == sizeof(WCHAR);
    const QByteArray path = wide ? QByteArray(reinterpret_cast<const char*>(iface->path.utf16()),
                                              int((iface->path.size() + 1) * sizeof(WCHAR)))
                                 : iface->path.toUtf8() + '\0';
    DWORD required = DWORD(offsetof(Detail, DevicePath) + size_t(path.size()));
    if (required < sizeof(Detail))
        required = sizeof(Detail);
    if (!detail) {
        if (requiredSize) {
            const DWORD misreported = takeMisreportedDetailSize();
            *requiredSize = misreported ? misreported : required;
        }
        SetLastError(size ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (size < required) {
        if (requiredSize)
            *requiredSize = required;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(Detail) || (devInfo && devInfo->cbSize != sizeof(SP_DEVINFO_DATA))) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.constData(), size_t(path.size()));
    if (requiredSize)
        *requiredSize = required;
    if (devInfo)
        fillDevInfo(set, *s, node, devInfo);
    return TRUE;
}

} // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags)
{
    return getClassDevs(classGuid, enumerator != nullptr, flags, "SetupDiGetClassDevsW");
}

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND, DWORD flags)
{
    return getClassDevs(classGuid, enumerator != nullptr, flags, "SetupDiGetClassDevsA");
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) { return closeHandleOf<DeviceInfoSet>(deviceInfoSet); }

BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex, PSP_DEVINFO_DATA deviceInfoData)
{
    std::shared_ptr<DeviceInfoSet> s = findSet(deviceInfoSet);
    if (!s)
        return FALSE;
    if (!deviceInfoData || deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (memberIndex >= s->size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    fillDevInfo(deviceInfoSet, *s, memberIndex, deviceInfoData);
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, PWSTR deviceInstanceId,
                                 DWORD deviceInstanceIdSize, PDWORD requiredSize)
{
    if (takeFault("SetupDiGetDeviceInstanceIdW"))
        return FALSE;
    std::shared_ptr<DeviceInfoSet> s = findSet(deviceInfoSet);
    const TreeNode* node = s ? deviceOf(*s, deviceInfoSet, deviceInfoData) : nullptr;
    if (!node)
        return FALSE;
    if (node->instanceIdUnreadable) {
        SetLastError(DWORD(ERROR_NO_SUCH_DEVINST));
        return FALSE;
    }
    const DWORD required = DWORD(node->instanceId.size() + 1);
    if (requiredSize)
        *requiredSize = required;
    if (!deviceInstanceId || deviceInstanceIdSize < required) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(deviceInstanceId, node->instanceId.utf16(), required * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE propertyBuffer, DWORD propertyBufferSize,
                                       PDWORD requiredSize)
{
    if (takeFault("SetupDiGetDeviceRegistryPropertyW"))
        return FALSE;
    std::shared_ptr<DeviceInfoSet> s = findSet(deviceInfoSet);
    const TreeNode* node = s ? deviceOf(*s, deviceInfoSet, deviceInfoData) : nullptr;
    if (!node)
        return FALSE;
    if (property != SPDRP_HARDWAREID || node->hardwareIds.isEmpty()) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    // Each id with its terminator, then the list's own; or, unterminated, the ids with nothing
    // after the last one.
    QString multi;
    for (const QString& id : node->hardwareIds)
        multi += id + QChar(0);
    if (node->hardwareIdUnterminated)
        multi.chop(1);
    else
        multi += QChar(0);
    const DWORD bytes = DWORD(multi.size() * sizeof(WCHAR));
    if (propertyRegDataType)
        *propertyRegDataType = REG_MULTI_SZ;
    if (node->hardwareIdGrowing || !propertyBuffer || propertyBufferSize < bytes) {
        if (requiredSize)
            *requiredSize = node->hardwareIdGrowing ? qMax(bytes, propertyBufferSize) + sizeof(WCHAR) : bytes;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(propertyBuffer, multi.utf16(), bytes);
    if (requiredSize)
        *requiredSize = bytes;
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                 PSP_DEVICE_INTERFACE_DATA deviceInterfaceData)
{
    std::shared_ptr<DeviceInfoSet> s = findSet(deviceInfoSet);
    if (!s)
        return FALSE;
    if (!interfaceClassGuid || !deviceInterfaceData
        || deviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t first = 0, last = s->size();
    if (deviceInfoData) {
        size_t iface = 0;
        if (!deviceOf(*s, deviceInfoSet, deviceInfoData))
            return FALSE;
        unpackLocator(deviceInfoSet, deviceInfoData->Reserved, &first, &iface);
        last = first + 1;
    }
    DWORD index = 0;
    for (size_t n = first; n < last; ++n) {
        const std::vector<TreeInterface>& ifaces = s->node(n).interfaces;
        for (size_t i = 0; i < ifaces.size() && i < kMaxInterfaces; ++i) {
            if (ifaces[i].classGuid != *interfaceClassGuid)
                continue;
            if (index++ == memberIndex) {
                deviceInterfaceData->InterfaceClassGuid = ifaces[i].classGuid;
                deviceInterfaceData->Flags = SPINT_ACTIVE;
                deviceInterfaceData->Reserved = locator(deviceInfoSet, n, i);
                return TRUE;
            }
        }
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W deviceInterfaceDetailData,
                                      DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfoData)
{
    return getInterfaceDetail(deviceInfoSet, deviceInterfaceData, deviceInterfaceDetailData,
                              deviceInterfaceDetailDataSize, requiredSize, deviceInfoData,
                              "SetupDiGetDeviceInterfaceDetailW");
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A deviceInterfaceDetailData,
                                      DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfoData)
{
    return getInterfaceDetail(deviceInfoSet, deviceInterfaceData, deviceInterfaceDetailData,
                              deviceInterfaceDetailDataSize, requiredSize, deviceInfoData,
                              "SetupDiGetDeviceInterfaceDetailA");
}
