#include "devices/vmulti_client.h"

#include "devices/interface_detail.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const BYTE kControlReportId = 0x40;
const BYTE kMultitouchReportId = 0x01;
const BYTE kMouseReportId = 0x03;
const BYTE kRelativeMouseReportId = 0x04;
const BYTE kDigitizerReportId = 0x05;
const BYTE kJoystickReportId = 0x06;
const BYTE kKeyboardReportId = 0x07;
const BYTE kMessageReportId = 0x10;
const int kTouchRecordSize = 10;
const ULONG kMessageInputBuffers = 10;

void putWord(BYTE* p, USHORT value)
{
    p[0] = BYTE(value & 0xFF);
    p[1] = BYTE(value >> 8);
}

// Frames the embedded report (id and fields) in a control report of its own, zero after it, and
// writes it to the control collection.
bool writeControlReport(pvmulti_client vmulti, BYTE id, const BYTE* fields, int fieldCount,
                        bool useOutputReport = false)
{
    BYTE report[VMULTI_CONTROL_REPORT_SIZE] = {};
    report[0] = kControlReportId;
    report[1] = BYTE(fieldCount + 1);
    report[2] = id;
    std::memcpy(report + 3, fields, size_t(fieldCount));
    return WriteHidReport(useOutputReport, vmulti->hControl, report);
}

void closeIfOpen(HANDLE* handle)
{
    if (*handle != INVALID_HANDLE_VALUE)
        CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
}

} // namespace

pvmulti_client vmulti_alloc()
{
    auto* vmulti = static_cast<pvmulti_client>(std::malloc(sizeof(vmulti_client)));
    if (vmulti) {
        vmulti->hControl = INVALID_HANDLE_VALUE;
        vmulti->hMessage = INVALID_HANDLE_VALUE;
    }
    return vmulti;
}

void vmulti_free(pvmulti_client vmulti) { std::free(vmulti); }

bool vmulti_connect(pvmulti_client vmulti)
{
    vmulti->hControl = FindOurHidDevice(VMULTI_CONTROL_USAGE);
    if (vmulti->hControl == INVALID_HANDLE_VALUE)
        return false;
    vmulti->hMessage = FindOurHidDevice(VMULTI_MESSAGE_USAGE);
    if (vmulti->hMessage == INVALID_HANDLE_VALUE) {
        vmulti_disconnect(vmulti);
        return false;
    }
    if (!HidD_SetNumInputBuffers(vmulti->hMessage, kMessageInputBuffers)) {
        std::printf("failed HidD_SetNumInputBuffers %d\n", int(GetLastError()));
        vmulti_disconnect(vmulti);
        return false;
    }
    return true;
}

void vmulti_disconnect(pvmulti_client vmulti)
{
    closeIfOpen(&vmulti->hControl);
    closeIfOpen(&vmulti->hMessage);
}

bool vmulti_update_relative_mouse(pvmulti_client vmulti, BYTE button, BYTE x, BYTE y, BYTE wheelPosition)
{
    const BYTE fields[] = {button, x, y, wheelPosition};
    return writeControlReport(vmulti, kRelativeMouseReportId, fields, sizeof fields);
}

bool vmulti_update_keyboard(pvmulti_client vmulti, BYTE shiftKeyFlags, BYTE keyCodes[VMULTI_KEYBOARD_KEYS])
{
    BYTE fields[2 + VMULTI_KEYBOARD_KEYS] = {shiftKeyFlags, 0};
    std::memcpy(fields + 2, keyCodes, VMULTI_KEYBOARD_KEYS);
    return writeControlReport(vmulti, kKeyboardReportId, fields, sizeof fields);
}

bool vmulti_update_mouse(pvmulti_client vmulti, BYTE button, USHORT x, USHORT y, BYTE wheelPosition)
{
    BYTE fields[6] = {button};
    putWord(fields + 1, x);
    putWord(fields + 3, y);
    fields[5] = wheelPosition;
    return writeControlReport(vmulti, kMouseReportId, fields, sizeof fields);
}

bool vmulti_update_digi(pvmulti_client vmulti, BYTE status, USHORT x, USHORT y)
{
    BYTE fields[5] = {status};
    putWord(fields + 1, x);
    putWord(fields + 3, y);
    return writeControlReport(vmulti, kDigitizerReportId, fields, sizeof fields);
}

bool vmulti_update_multitouch(pvmulti_client vmulti, PVMULTI_TOUCH pTouch, BYTE actualCount)
{
    // Two records per report; the second of the last report stays zero when the count is odd.
    for (int first = 0; first < actualCount; first += 2) {
        BYTE fields[2 * kTouchRecordSize + 1] = {};
        for (int i = 0; i < 2 && first + i < actualCount; ++i) {
            const VMULTI_TOUCH& t = pTouch[first + i];
            BYTE* record = fields + kTouchRecordSize * i;
            record[0] = t.Status;
            record[1] = t.ContactID;
            putWord(record + 2, t.XValue);
            putWord(record + 4, t.YValue);
            putWord(record + 6, t.Width);
            putWord(record + 8, t.Height);
        }
        fields[2 * kTouchRecordSize] = first == 0 ? actualCount : 0;
        if (!writeControlReport(vmulti, kMultitouchReportId, fields, sizeof fields, true))
            return false;
    }
    return true;
}

bool vmulti_update_joystick(pvmulti_client vmulti, USHORT buttons, BYTE hat, BYTE x, BYTE y, BYTE rx, BYTE ry,
                            BYTE throttle)
{
    BYTE fields[8];
    putWord(fields, buttons);
    fields[2] = hat;
    fields[3] = x;
    fields[4] = y;
    fields[5] = rx;
    fields[6] = ry;
    fields[7] = throttle;
    return writeControlReport(vmulti, kJoystickReportId, fields, sizeof fields);
}

bool vmulti_write_message(pvmulti_client vmulti, const BYTE message[VMULTI_MESSAGE_SIZE])
{
    return writeControlReport(vmulti, kMessageReportId, message, VMULTI_MESSAGE_SIZE);
}

bool vmulti_read_message(pvmulti_client vmulti, BYTE report[VMULTI_MESSAGE_SIZE + 1])
{
    DWORD read = 0;
    if (!ReadFile(vmulti->hMessage, report, VMULTI_MESSAGE_SIZE + 1, &read, nullptr)) {
        std::printf("failed ReadFile %d\n", int(GetLastError()));
        return false;
    }
    return true;
}

HANDLE FindOurHidDevice(USHORT usage)
{
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        std::printf("SetupDiGetClassDevs failed: %x\n", unsigned(GetLastError()));
        return INVALID_HANDLE_VALUE;
    }
    std::printf("\n....looking for our HID device (with UP=0x%x and Usage=0x%x)\n", unsigned(VMULTI_USAGE_PAGE),
                unsigned(usage));
    HANDLE found = INVALID_HANDLE_VALUE;
    for (DWORD index = 0; found == INVALID_HANDLE_VALUE; ++index) {
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &data))
            break;
        found = OpenDeviceInterface(set, &data, usage);
    }
    if (found == INVALID_HANDLE_VALUE)
        std::printf("Failure: Could not find our HID device \n");
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

HANDLE OpenDeviceInterface(HDEVINFO hardwareDeviceInfo, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData, USHORT usage)
{
    std::string path;
    if (!interfaceDetailPath<SP_DEVICE_INTERFACE_DETAIL_DATA_A>(hardwareDeviceInfo, deviceInterfaceData,
                                                                 &SetupDiGetDeviceInterfaceDetailA, &path))
        return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("Error: CreateFile failed: %d\n", int(GetLastError()));
        return INVALID_HANDLE_VALUE;
    }
    if (IsOurDevice(file, usage))
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

bool IsOurDevice(HANDLE handle, USHORT usage)
{
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(handle, &preparsed)) {
        std::printf("Error: HidD_GetPreparsedData failed \n");
        return false;
    }
    bool ours = false;
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(handle, &attributes)) {
        std::printf("Error: HidD_GetAttributes failed \n");
    } else if (attributes.VendorID == VMULTI_VENDOR_ID && attributes.ProductID == VMULTI_PRODUCT_ID) {
        HIDP_CAPS caps;
        if (HidP_GetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
            std::printf("Error: HidP_GetCaps failed \n");
        } else if (caps.UsagePage == VMULTI_USAGE_PAGE && caps.Usage == usage) {
            std::printf("Success: Found my device.. \n");
            ours = true;
        }
    }
    HidD_FreePreparsedData(preparsed);
    return ours;
}

bool WriteHidReport(bool useOutputReport, HANDLE file, BYTE* buffer)
{
    DWORD written = 0;
    const BOOL ok = useOutputReport ? HidD_SetOutputReport(file, buffer, VMULTI_CONTROL_REPORT_SIZE)
                                    : WriteFile(file, buffer, VMULTI_CONTROL_REPORT_SIZE, &written, nullptr);
    if (!ok) {
        std::printf("failed WriteFile %d\n", int(GetLastError()));
        return false;
    }
    return true;
}
