#include "devices/vmulti_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const BYTE kControlReportId = 0x40;
const BYTE kKeyboardReportId = 0x07;
const BYTE kKeyboardReportLength = 9;

} // namespace

pvmulti_client vmulti_alloc()
{
    auto* vmulti = static_cast<pvmulti_client>(std::malloc(sizeof(vmulti_client)));
    if (vmulti) {
        vmulti->hControl = nullptr;
        vmulti->hMessage = nullptr;
    }
    return vmulti;
}

void vmulti_free(pvmulti_client vmulti) { std::free(vmulti); }

bool vmulti_connect(pvmulti_client vmulti)
{
    // The device's HID collections are found through the system's HID class; this system
    // presents none, so the device is never found.
    vmulti->hControl = nullptr;
    vmulti->hMessage = nullptr;
    std::printf("Failure: Could not find our HID device \n");
    return false;
}

void vmulti_disconnect(pvmulti_client vmulti)
{
    vmulti->hControl = nullptr;
    vmulti->hMessage = nullptr;
}

bool vmulti_update_keyboard(pvmulti_client vmulti, BYTE shiftKeyFlags, BYTE keyCodes[6])
{
    BYTE* report = vmulti->controlReport;
    std::memset(report, 0, VMULTI_CONTROL_REPORT_SIZE);
    report[0] = kControlReportId;
    report[1] = kKeyboardReportLength;
    report[2] = kKeyboardReportId;
    report[3] = shiftKeyFlags;
    report[4] = 0;
    std::memcpy(report + 5, keyCodes, 6);
    // No control collection is ever open here (see vmulti_connect): the report is not written.
    std::printf("failed WriteFile %d\n", int(ERROR_INVALID_HANDLE));
    return false;
}
