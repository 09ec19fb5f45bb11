// Client of the virtual HID device that plays macros as keyboard and mouse input: plain functions
// over a plain structure.
#pragma once

#include "windows.h"

// The control report every embedded report is framed in.
#define VMULTI_CONTROL_REPORT_SIZE 65

typedef struct _vmulti_client {
    HANDLE hControl;
    HANDLE hMessage;
    BYTE controlReport[VMULTI_CONTROL_REPORT_SIZE];
} vmulti_client, *pvmulti_client;

// Allocates a client (not connected); release it with vmulti_free.
pvmulti_client vmulti_alloc();
void vmulti_free(pvmulti_client vmulti);

// Opens the device's control and message collections; false when the device is not present.
bool vmulti_connect(pvmulti_client vmulti);
void vmulti_disconnect(pvmulti_client vmulti);

// One keyboard report: modifier bits and six key usages; false when it could not be written.
bool vmulti_update_keyboard(pvmulti_client vmulti, BYTE shiftKeyFlags, BYTE keyCodes[6]);
