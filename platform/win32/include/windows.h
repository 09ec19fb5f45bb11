// The subset of the Windows API that this program calls, for building on Linux.
// Texts are UTF-16 (WCHAR is char16_t); window handles are Qt window ids.
#pragma once

#include "win32/base.h"
// Each area of the API has its own header below; add new areas here.
#include "win32/pointer.h"
#include "win32/messages.h"
#include "win32/window_info.h"
#include "win32/window_calls.h"
#include "win32/shell_folders.h"
#include "win32/device_notify.h"
#include "win32/registry.h"
#include "win32/keyboard_layout.h"
#include "win32/window_procedures.h"
#include "win32/shell_execute.h"
#include "win32/window_enum.h"
#include "win32/exceptions.h"
#include "win32/shell_file_operation.h"
#include "win32/files.h"
#include "win32/devguid.h"
#include "win32/setupapi.h"
#include "win32/hid.h"
#include "win32/input_hooks.h"
#include "win32/input_injection.h"
#include "win32/synch.h"
#include "win32/heap.h"
#include "win32/process.h"
#include "win32/ioctl.h"
