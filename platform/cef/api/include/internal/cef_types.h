// Plain types, enumerations and structures of the browser runtime.
#pragma once

#include "include/internal/cef_string_types.h"

#include <cstddef>
#include <cstdint>

typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;

// Native window handle: the Qt window id (WId) of the native window.
typedef uintptr_t CefWindowHandle;
typedef uintptr_t CefCursorHandle;
typedef void* CefEventHandle;

typedef uint32 cef_color_t;
#define CefColorGetA(color) (((color) >> 24) & 0xFF)
#define CefColorGetR(color) (((color) >> 16) & 0xFF)
#define CefColorGetG(color) (((color) >> 8) & 0xFF)
#define CefColorGetB(color) (((color) >> 0) & 0xFF)
#define CefColorSetARGB(a, r, g, b)                                                                \
    static_cast<cef_color_t>((unsigned(a) << 24) | (unsigned(r) << 16) | (unsigned(g) << 8) |    \
                             (unsigned(b) << 0))

typedef enum {
    LOGSEVERITY_DEFAULT,
    LOGSEVERITY_VERBOSE,
    LOGSEVERITY_DEBUG = LOGSEVERITY_VERBOSE,
    LOGSEVERITY_INFO,
    LOGSEVERITY_WARNING,
    LOGSEVERITY_ERROR,
    LOGSEVERITY_DISABLE = 99
} cef_log_severity_t;

typedef enum {
    TID_UI,
    TID_DB,
    TID_FILE,
    TID_FILE_USER_BLOCKING,
    TID_PROCESS_LAUNCHER,
    TID_CACHE,
    TID_IO,
    TID_RENDERER,
} cef_thread_id_t;
typedef cef_thread_id_t CefThreadId;

typedef enum {
    PID_BROWSER,
    PID_RENDERER,
} cef_process_id_t;
typedef cef_process_id_t CefProcessId;

typedef enum {
    STATE_DEFAULT = 0,
    STATE_ENABLED,
    STATE_DISABLED,
} cef_state_t;

typedef enum {
    VTYPE_INVALID = 0,
    VTYPE_NULL,
    VTYPE_BOOL,
    VTYPE_INT,
    VTYPE_DOUBLE,
    VTYPE_STRING,
    VTYPE_BINARY,
    VTYPE_DICTIONARY,
    VTYPE_LIST,
} cef_value_type_t;
typedef cef_value_type_t CefValueType;

typedef enum {
    TS_ABNORMAL_TERMINATION,
    TS_PROCESS_WAS_KILLED,
    TS_PROCESS_CRASHED,
} cef_termination_status_t;

typedef enum {
    ERR_NONE = 0,
    ERR_FAILED = -2,
    ERR_ABORTED = -3,
    ERR_INVALID_ARGUMENT = -4,
    ERR_INVALID_HANDLE = -5,
    ERR_FILE_NOT_FOUND = -6,
    ERR_TIMED_OUT = -7,
    ERR_FILE_TOO_BIG = -8,
    ERR_UNEXPECTED = -9,
    ERR_ACCESS_DENIED = -10,
    ERR_NOT_IMPLEMENTED = -11,
    ERR_CONNECTION_CLOSED = -100,
    ERR_CONNECTION_RESET = -101,
    ERR_CONNECTION_REFUSED = -102,
    ERR_CONNECTION_ABORTED = -103,
    ERR_CONNECTION_FAILED = -104,
    ERR_NAME_NOT_RESOLVED = -105,
    ERR_INTERNET_DISCONNECTED = -106,
    ERR_SSL_PROTOCOL_ERROR = -107,
    ERR_ADDRESS_INVALID = -108,
    ERR_ADDRESS_UNREACHABLE = -109,
    ERR_INVALID_URL = -300,
    ERR_DISALLOWED_URL_SCHEME = -301,
    ERR_UNKNOWN_URL_SCHEME = -302,
    ERR_TOO_MANY_REDIRECTS = -310,
    ERR_UNSAFE_REDIRECT = -311,
    ERR_UNSAFE_PORT = -312,
    ERR_INVALID_RESPONSE = -320,
    ERR_EMPTY_RESPONSE = -324,
    ERR_CACHE_MISS = -400,
    ERR_INSECURE_RESPONSE = -501,
} cef_errorcode_t;

typedef enum {
    DRAG_OPERATION_NONE = 0,
    DRAG_OPERATION_COPY = 1,
    DRAG_OPERATION_LINK = 2,
    DRAG_OPERATION_GENERIC = 4,
    DRAG_OPERATION_PRIVATE = 8,
    DRAG_OPERATION_MOVE = 16,
    DRAG_OPERATION_DELETE = 32,
    DRAG_OPERATION_EVERY = 0xFFFFFFFF,
} cef_drag_operations_mask_t;

typedef enum {
    EVENTFLAG_NONE = 0,
    EVENTFLAG_CAPS_LOCK_ON = 1 << 0,
    EVENTFLAG_SHIFT_DOWN = 1 << 1,
    EVENTFLAG_CONTROL_DOWN = 1 << 2,
    EVENTFLAG_ALT_DOWN = 1 << 3,
    EVENTFLAG_LEFT_MOUSE_BUTTON = 1 << 4,
    EVENTFLAG_MIDDLE_MOUSE_BUTTON = 1 << 5,
    EVENTFLAG_RIGHT_MOUSE_BUTTON = 1 << 6,
    EVENTFLAG_COMMAND_DOWN = 1 << 7,
    EVENTFLAG_NUM_LOCK_ON = 1 << 8,
    EVENTFLAG_IS_KEY_PAD = 1 << 9,
    EVENTFLAG_IS_LEFT = 1 << 10,
    EVENTFLAG_IS_RIGHT = 1 << 11,
} cef_event_flags_t;

typedef enum {
    CM_TYPEFLAG_NONE = 0,
    CM_TYPEFLAG_PAGE = 1 << 0,
    CM_TYPEFLAG_FRAME = 1 << 1,
    CM_TYPEFLAG_LINK = 1 << 2,
    CM_TYPEFLAG_MEDIA = 1 << 3,
    CM_TYPEFLAG_SELECTION = 1 << 4,
    CM_TYPEFLAG_EDITABLE = 1 << 5,
} cef_context_menu_type_flags_t;

typedef enum {
    CM_MEDIATYPE_NONE,
    CM_MEDIATYPE_IMAGE,
    CM_MEDIATYPE_VIDEO,
    CM_MEDIATYPE_AUDIO,
    CM_MEDIATYPE_FILE,
    CM_MEDIATYPE_PLUGIN,
} cef_context_menu_media_type_t;

typedef enum {
    MENUITEMTYPE_NONE,
    MENUITEMTYPE_COMMAND,
    MENUITEMTYPE_CHECK,
    MENUITEMTYPE_RADIO,
    MENUITEMTYPE_SEPARATOR,
    MENUITEMTYPE_SUBMENU,
} cef_menu_item_type_t;

// Command ids of the runtime's built-in menu items and the first id free for clients.
typedef enum {
    MENU_ID_BACK = 100,
    MENU_ID_FORWARD = 101,
    MENU_ID_RELOAD = 102,
    MENU_ID_RELOAD_NOCACHE = 103,
    MENU_ID_STOPLOAD = 104,
    MENU_ID_UNDO = 110,
    MENU_ID_REDO = 111,
    MENU_ID_CUT = 112,
    MENU_ID_COPY = 113,
    MENU_ID_PASTE = 114,
    MENU_ID_DELETE = 115,
    MENU_ID_SELECT_ALL = 116,
    MENU_ID_FIND = 130,
    MENU_ID_PRINT = 131,
    MENU_ID_VIEW_SOURCE = 132,
    MENU_ID_USER_FIRST = 26500,
    MENU_ID_USER_LAST = 28500,
} cef_menu_id_t;

typedef enum {
    FILE_DIALOG_OPEN,
    FILE_DIALOG_OPEN_MULTIPLE,
    FILE_DIALOG_SAVE,
} cef_file_dialog_mode_t;

typedef enum {
    JSDIALOGTYPE_ALERT = 0,
    JSDIALOGTYPE_CONFIRM,
    JSDIALOGTYPE_PROMPT,
} cef_jsdialog_type_t;

typedef enum {
    KEYEVENT_RAWKEYDOWN = 0,
    KEYEVENT_KEYDOWN,
    KEYEVENT_KEYUP,
    KEYEVENT_CHAR,
} cef_key_event_type_t;

typedef enum {
    NAVIGATION_LINK_CLICKED = 0,
    NAVIGATION_FORM_SUBMITTED,
    NAVIGATION_BACK_FORWARD,
    NAVIGATION_RELOAD,
    NAVIGATION_FORM_RESUBMITTED,
    NAVIGATION_OTHER,
} cef_navigation_type_t;

typedef enum {
    PET_VIEW = 0,
    PET_POPUP,
} cef_paint_element_type_t;

typedef enum {
    V8_PROPERTY_ATTRIBUTE_NONE = 0,
    V8_PROPERTY_ATTRIBUTE_READONLY = 1 << 0,
    V8_PROPERTY_ATTRIBUTE_DONTENUM = 1 << 1,
    V8_PROPERTY_ATTRIBUTE_DONTDELETE = 1 << 2,
} cef_v8_propertyattribute_t;

typedef enum {
    UR_FLAG_NONE = 0,
    UR_FLAG_SKIP_CACHE = 1 << 0,
    UR_FLAG_ALLOW_CACHED_CREDENTIALS = 1 << 1,
    UR_FLAG_ALLOW_COOKIES = 1 << 2,
    UR_FLAG_REPORT_UPLOAD_PROGRESS = 1 << 3,
    UR_FLAG_REPORT_LOAD_TIMING = 1 << 4,
    UR_FLAG_REPORT_RAW_HEADERS = 1 << 5,
    UR_FLAG_NO_DOWNLOAD_DATA = 1 << 6,
    UR_FLAG_NO_RETRY_ON_5XX = 1 << 7,
} cef_urlrequest_flags_t;

typedef enum {
    PDE_TYPE_EMPTY = 0,
    PDE_TYPE_BYTES,
    PDE_TYPE_FILE,
} cef_postdataelement_type_t;

// Runtime settings (CefSettings); every field not set stays zero/empty.
typedef struct _cef_settings_t {
    size_t size;
    int single_process;
    int no_sandbox;
    cef_string_t browser_subprocess_path;
    int multi_threaded_message_loop;
    int windowless_rendering_enabled;
    int command_line_args_disabled;
    cef_string_t cache_path;
    int persist_session_cookies;
    cef_string_t user_agent;
    cef_string_t product_version;
    cef_string_t locale;
    cef_string_t log_file;
    cef_log_severity_t log_severity;
    cef_string_t javascript_flags;
    cef_string_t resources_dir_path;
    cef_string_t locales_dir_path;
    int pack_loading_disabled;
    int remote_debugging_port;
    int uncaught_exception_stack_size;
    int context_safety_implementation;
    int ignore_certificate_errors;
    cef_color_t background_color;
    cef_string_t accept_language_list;
} cef_settings_t;

typedef struct _cef_browser_settings_t {
    size_t size;
    cef_string_t standard_font_family;
    cef_string_t fixed_font_family;
    cef_string_t serif_font_family;
    cef_string_t sans_serif_font_family;
    cef_string_t cursive_font_family;
    cef_string_t fantasy_font_family;
    int default_font_size;
    int default_fixed_font_size;
    int minimum_font_size;
    int minimum_logical_font_size;
    cef_string_t default_encoding;
    cef_state_t remote_fonts;
    cef_state_t javascript;
    cef_state_t javascript_open_windows;
    cef_state_t javascript_close_windows;
    cef_state_t javascript_access_clipboard;
    cef_state_t javascript_dom_paste;
    cef_state_t caret_browsing;
    cef_state_t java;
    cef_state_t plugins;
    cef_state_t universal_access_from_file_urls;
    cef_state_t file_access_from_file_urls;
    cef_state_t web_security;
    cef_state_t image_loading;
    cef_state_t image_shrink_standalone_to_fit;
    cef_state_t text_area_resize;
    cef_state_t tab_to_links;
    cef_state_t local_storage;
    cef_state_t databases;
    cef_state_t application_cache;
    cef_state_t webgl;
    cef_color_t background_color;
} cef_browser_settings_t;

// The browser's window: a child of parent_window, a top-level window, or none (windowless).
typedef struct _cef_window_info_t {
    unsigned long ex_style;
    cef_string_t window_name;
    unsigned long style;
    int x;
    int y;
    int width;
    int height;
    CefWindowHandle parent_window;
    uintptr_t menu;
    int windowless_rendering_enabled;
    int transparent_painting_enabled;
    // Out: the browser's own window, filled in by the runtime.
    CefWindowHandle window;
} cef_window_info_t;

typedef struct _cef_cookie_t {
    cef_string_t name;
    cef_string_t value;
    cef_string_t domain;
    cef_string_t path;
    int secure;
    int httponly;
    int has_expires;
} cef_cookie_t;
