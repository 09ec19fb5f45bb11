// SetupAPI over the simulated device tree: device information sets, devices, their instance ids
// and hardware ids, and their device interfaces.
//
// A device information set is a snapshot of the tree taken when it is made; later changes to the
// tree do not reach it. Structures whose first member is cbSize are accepted only when cbSize is
// the size of the structure as declared here (ERROR_INVALID_USER_BUFFER otherwise); callers set
// it from sizeof, as this layout differs from the 32-bit one.
#pragma once

#include "win32/base.h"
#include "win32/devguid.h"

typedef PVOID HDEVINFO;
typedef const CHAR* PCSTR;

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002

#define REG_MULTI_SZ 7

#define MAX_DEVICE_ID_LEN 200

#define ERROR_INVALID_DATA 13L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_NOT_FOUND 1168L
#define ERROR_NO_SUCH_DEVINST 0xE000020BL

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

#define SPINT_ACTIVE 0x00000001

// The device path is NUL-terminated and fills the rest of the buffer the caller gives.
typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_W, *PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

// The devices of a setup class (classGuid), of every class (DIGCF_ALLCLASSES, classGuid ignored),
// or, with DIGCF_DEVICEINTERFACE, the devices that expose an interface of the interface class
// classGuid (every interface with DIGCF_ALLCLASSES). No enumerator is supported (a non-null one
// fails with ERROR_INVALID_PARAMETER). INVALID_HANDLE_VALUE on failure.
HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND hwndParent, DWORD flags);
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND hwndParent, DWORD flags);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);

// The device at memberIndex in the set; FALSE with ERROR_NO_MORE_ITEMS past the last one.
BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex, PSP_DEVINFO_DATA deviceInfoData);

// The instance id with its terminator; a buffer too small (in characters) fails with
// ERROR_INSUFFICIENT_BUFFER and gives the size needed in requiredSize.
BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, PWSTR deviceInstanceId,
                                 DWORD deviceInstanceIdSize, PDWORD requiredSize);

// SPDRP_HARDWAREID: the hardware ids as a REG_MULTI_SZ (UTF-16 strings each with its terminator,
// then one more), sizes in bytes. A buffer too small fails with ERROR_INSUFFICIENT_BUFFER and
// gives the size needed; a device without hardware ids, or another property, fails with
// ERROR_INVALID_DATA.
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE propertyBuffer, DWORD propertyBufferSize,
                                       PDWORD requiredSize);

// The interface at memberIndex among the interfaces of class interfaceClassGuid, of one device
// (deviceInfoData) or of every device of the set (null).
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                 PSP_DEVICE_INTERFACE_DATA deviceInterfaceData);

// The interface's device path. Asked with no buffer (null, size 0) it fails with
// ERROR_INSUFFICIENT_BUFFER and gives the size of the detail structure holding the path in
// requiredSize; a detail buffer of that size whose cbSize is the size of the fixed structure then
// receives it. deviceInfoData, when given, receives the interface's device.
BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W deviceInterfaceDetailData,
                                      DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfoData);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A deviceInterfaceDetailData,
                                      DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfoData);
