// Client of the virtual HID device that plays macros as keyboard and mouse input: plain functions
// over a plain structure. The device (vendor 0x001F, product 0xBA1C) has two collections of usage
// page 0xFF00: the control collection (usage 1), to which every input report is written framed in
// a 65-byte control report, and the message collection (usage 2).
//
// Every function takes the client first and returns true on success. Diagnostics go to the
// standard output.
#pragma once

#include "windows.h"

#define VMULTI_VENDOR_ID 0x001F
#define VMULTI_PRODUCT_ID 0xBA1C
#define VMULTI_USAGE_PAGE 0xFF00
#define VMULTI_CONTROL_USAGE 0x01
#define VMULTI_MESSAGE_USAGE 0x02

// The control report every embedded report is framed in: its id, the embedded report's length
// (counting its id), then the embedded report.
#define VMULTI_CONTROL_REPORT_SIZE 65
#define VMULTI_MESSAGE_SIZE 32

// Mouse button bits.
#define VMULTI_BUTTON_LEFT 0x01
#define VMULTI_BUTTON_RIGHT 0x02
#define VMULTI_BUTTON_MIDDLE 0x04
#define VMULTI_BUTTON_BACK 0x08
#define VMULTI_BUTTON_FORWARD 0x10

#define VMULTI_KEYBOARD_KEYS 6

// The handles are INVALID_HANDLE_VALUE while not open. Reports are framed per call, so that two
// threads may write through one client.
typedef struct _vmulti_client {
    HANDLE hControl;
    HANDLE hMessage;
} vmulti_client, *pvmulti_client;

// One contact of a multi-touch report.
typedef struct _VMULTI_TOUCH {
    BYTE Status;
    BYTE ContactID;
    USHORT XValue;
    USHORT YValue;
    USHORT Width;
    USHORT Height;
} VMULTI_TOUCH, *PVMULTI_TOUCH;

// Allocates a client with both handles cleared (not connected); release it with vmulti_free.
pvmulti_client vmulti_alloc();
void vmulti_free(pvmulti_client vmulti);

// Opens the control and message collections; false, with both handles cleared, when either is
// not found or the message collection's input buffers cannot be set.
bool vmulti_connect(pvmulti_client vmulti);
// Closes each handle that is open and clears both.
void vmulti_disconnect(pvmulti_client vmulti);

bool vmulti_update_relative_mouse(pvmulti_client vmulti, BYTE button, BYTE x, BYTE y, BYTE wheelPosition);
bool vmulti_update_keyboard(pvmulti_client vmulti, BYTE shiftKeyFlags, BYTE keyCodes[VMULTI_KEYBOARD_KEYS]);
bool vmulti_update_mouse(pvmulti_client vmulti, BYTE button, USHORT x, USHORT y, BYTE wheelPosition);
bool vmulti_update_digi(pvmulti_client vmulti, BYTE status, USHORT x, USHORT y);
// Two touches per report, through HidD_SetOutputReport; the first report carries actualCount.
bool vmulti_update_multitouch(pvmulti_client vmulti, PVMULTI_TOUCH pTouch, BYTE actualCount);
bool vmulti_update_joystick(pvmulti_client vmulti, USHORT buttons, BYTE hat, BYTE x, BYTE y, BYTE rx, BYTE ry,
                            BYTE throttle);
bool vmulti_write_message(pvmulti_client vmulti, const BYTE message[VMULTI_MESSAGE_SIZE]);
// Reads one 33-byte message report (its id, then the message) from the message collection.
bool vmulti_read_message(pvmulti_client vmulti, BYTE report[VMULTI_MESSAGE_SIZE + 1]);

// The collection of the device with that usage, opened for reading and writing;
// INVALID_HANDLE_VALUE when it is not found.
HANDLE FindOurHidDevice(USHORT usage);
bool IsOurDevice(HANDLE handle, USHORT usage);
// One device interface of the HID class, opened and kept when it is our collection of that usage.
HANDLE OpenDeviceInterface(HDEVINFO hardwareDeviceInfo, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData, USHORT usage);
// Writes one 65-byte report with HidD_SetOutputReport or WriteFile.
bool WriteHidReport(bool useOutputReport, HANDLE file, BYTE* buffer);
