// The HID class library: the HID interface class, a collection's attributes and capabilities, its
// input buffers and output reports. The handles are those CreateFileA gives for a HID interface
// path of the device tree.
#pragma once

#include "win32/base.h"

typedef USHORT USAGE;
typedef LONG NTSTATUS;
struct _HIDP_PREPARSED_DATA;
typedef struct _HIDP_PREPARSED_DATA* PHIDP_PREPARSED_DATA;

#define HIDP_STATUS_SUCCESS (static_cast<NTSTATUS>(0x00110000))
#define HIDP_STATUS_INVALID_PREPARSED_DATA (static_cast<NTSTATUS>(0xC0110001))

typedef struct _HIDD_ATTRIBUTES {
    ULONG Size; // sizeof(HIDD_ATTRIBUTES), set by the caller
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
} HIDD_ATTRIBUTES, *PHIDD_ATTRIBUTES;

typedef struct _HIDP_CAPS {
    USAGE Usage;
    USAGE UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT Reserved[17];
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
} HIDP_CAPS, *PHIDP_CAPS;

void HidD_GetHidGuid(GUID* hidGuid);
// FALSE with ERROR_INVALID_PARAMETER when Size is not sizeof(HIDD_ATTRIBUTES).
BOOL HidD_GetAttributes(HANDLE hidDeviceObject, PHIDD_ATTRIBUTES attributes);
// The collection's preparsed data, to be released with HidD_FreePreparsedData.
BOOL HidD_GetPreparsedData(HANDLE hidDeviceObject, PHIDP_PREPARSED_DATA* preparsedData);
// FALSE for anything HidD_GetPreparsedData did not give out, or gave out and was freed.
BOOL HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData);
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities);
// The size of the collection's input report queue, 2 to 512 (ERROR_INVALID_PARAMETER otherwise).
BOOL HidD_SetNumInputBuffers(HANDLE hidDeviceObject, ULONG numberBuffers);
// One output report through the control channel; the length is the collection's output report
// length, and the handle must be open for writing, as for WriteFile.
BOOL HidD_SetOutputReport(HANDLE hidDeviceObject, PVOID reportBuffer, ULONG reportBufferLength);
