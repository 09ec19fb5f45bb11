// Device-interface notifications: registering a window for arrivals and removals, and the
// broadcast structures WM_DEVICECHANGE carries in its lParam.
#pragma once

#include "win32/base.h"

#define WM_DEVICECHANGE 0x0219

// WM_DEVICECHANGE wParam
#define DBT_DEVNODES_CHANGED 0x0007
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEQUERYREMOVE 0x8001
#define DBT_DEVICEREMOVEPENDING 0x8003
#define DBT_DEVICEREMOVECOMPLETE 0x8004

// dbch_devicetype
#define DBT_DEVTYP_OEM 0x00000000
#define DBT_DEVTYP_VOLUME 0x00000002
#define DBT_DEVTYP_PORT 0x00000003
#define DBT_DEVTYP_DEVICEINTERFACE 0x00000005
#define DBT_DEVTYP_HANDLE 0x00000006

// RegisterDeviceNotificationW flags
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000
#define DEVICE_NOTIFY_SERVICE_HANDLE 0x00000001
#define DEVICE_NOTIFY_ALL_INTERFACE_CLASSES 0x00000004

typedef PVOID HDEVNOTIFY;

typedef struct _DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
} DEV_BROADCAST_HDR, *PDEV_BROADCAST_HDR;

// dbcc_name is NUL-terminated; a structure delivered with a message holds the whole name.
typedef struct _DEV_BROADCAST_DEVICEINTERFACE_W {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    WCHAR dbcc_name[1];
} DEV_BROADCAST_DEVICEINTERFACE_W, *PDEV_BROADCAST_DEVICEINTERFACE_W;

// Asks for WM_DEVICECHANGE messages on the window hRecipient (a window handle, with
// DEVICE_NOTIFY_WINDOW_HANDLE) for the device interfaces that filter names. Supported: a
// DEV_BROADCAST_DEVICEINTERFACE_W filter of the USB device class, whose arrivals and removals are
// read from the system's device manager while the application's event loop runs; a filter of any
// other class is accepted and reports nothing. Null with ERROR_INVALID_PARAMETER for a missing or
// malformed filter or a handle that is no window.
HDEVNOTIFY RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID notificationFilter, DWORD flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY handle);
