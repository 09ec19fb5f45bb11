// Structures of the runtime: geometry, settings, window description, key event, popup features.
#pragma once

#include "include/internal/cef_string.h"
#include "include/internal/cef_types.h"

#include <type_traits>
#include <utility>
#include <vector>

struct CefPoint {
    int x = 0;
    int y = 0;
    CefPoint() = default;
    CefPoint(int x_, int y_) : x(x_), y(y_) {}
    void Set(int x_, int y_) { x = x_, y = y_; }
    bool IsEmpty() const { return x == 0 && y == 0; }
    friend bool operator==(const CefPoint& a, const CefPoint& b) { return a.x == b.x && a.y == b.y; }
    friend bool operator!=(const CefPoint& a, const CefPoint& b) { return !(a == b); }
};

struct CefRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    CefRect() = default;
    CefRect(int x_, int y_, int w, int h) : x(x_), y(y_), width(w), height(h) {}
    void Set(int x_, int y_, int w, int h) { x = x_, y = y_, width = w, height = h; }
    bool IsEmpty() const { return width <= 0 || height <= 0; }
    friend bool operator==(const CefRect& a, const CefRect& b)
    {
        return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
    }
    friend bool operator!=(const CefRect& a, const CefRect& b) { return !(a == b); }
};

struct CefSize {
    int width = 0;
    int height = 0;
    CefSize() = default;
    CefSize(int w, int h) : width(w), height(h) {}
};

typedef std::vector<CefRect> RectList;

struct CefScreenInfo {
    float device_scale_factor = 1.0f;
    int depth = 24;
    int depth_per_component = 8;
    bool is_monochrome = false;
    CefRect rect;
    CefRect available_rect;
};

// Arguments of the process entry: argc/argv on this platform. The form taking a module
// handle reads the process's own command line.
class CefMainArgs {
public:
    CefMainArgs() = default;
    CefMainArgs(int argc_, char** argv_) : argc(argc_), argv(argv_) {}
    explicit CefMainArgs(const void* instance);
    // A copy of arguments read from the process owns its own strings.
    CefMainArgs(const CefMainArgs& other)
        : argc(other.argc), argv(other.argv), storage_(other.storage_), owned_(other.owned_)
    {
        relink();
    }
    CefMainArgs& operator=(const CefMainArgs& other)
    {
        if (this != &other) {
            argc = other.argc;
            argv = other.argv;
            storage_ = other.storage_;
            owned_ = other.owned_;
            relink();
        }
        return *this;
    }

    int argc = 0;
    char** argv = nullptr;

private:
    void relink()
    {
        pointers_.clear();
        if (!owned_)
            return; // the caller's argv, shared as given
        for (auto& s : storage_)
            pointers_.push_back(&s[0]);
        pointers_.push_back(nullptr);
        argv = pointers_.data();
    }

    std::vector<std::string> storage_;
    std::vector<char*> pointers_;
    bool owned_ = false; // storage_ and pointers_ back argv
};

// Runtime settings; every field not set stays zero/empty.
struct CefSettings {
    size_t size = sizeof(CefSettings);
    int single_process = 0;
    int no_sandbox = 0;
    CefString browser_subprocess_path;
    int multi_threaded_message_loop = 0;
    int windowless_rendering_enabled = 0;
    int command_line_args_disabled = 0;
    CefString cache_path;
    int persist_session_cookies = 0;
    CefString user_agent;
    CefString product_version;
    CefString locale;
    CefString log_file;
    int log_severity = 0; // cef_log_severity_t
    CefString javascript_flags;
    CefString resources_dir_path;
    CefString locales_dir_path;
    int pack_loading_disabled = 0;
    int remote_debugging_port = 0;
    int uncaught_exception_stack_size = 0;
    int context_safety_implementation = 0;
    int ignore_certificate_errors = 0;
    cef_color_t background_color = 0;
    CefString accept_language_list;
};

struct CefBrowserSettings {
    size_t size = sizeof(CefBrowserSettings);
    CefString standard_font_family;
    CefString fixed_font_family;
    CefString serif_font_family;
    CefString sans_serif_font_family;
    CefString cursive_font_family;
    CefString fantasy_font_family;
    int default_font_size = 0;
    int default_fixed_font_size = 0;
    int minimum_font_size = 0;
    int minimum_logical_font_size = 0;
    CefString default_encoding;
    cef_state_t remote_fonts = STATE_DEFAULT;
    cef_state_t javascript = STATE_DEFAULT;
    cef_state_t javascript_open_windows = STATE_DEFAULT;
    cef_state_t javascript_close_windows = STATE_DEFAULT;
    cef_state_t javascript_access_clipboard = STATE_DEFAULT;
    cef_state_t javascript_dom_paste = STATE_DEFAULT;
    cef_state_t caret_browsing = STATE_DEFAULT;
    cef_state_t java = STATE_DEFAULT;
    cef_state_t plugins = STATE_DEFAULT;
    cef_state_t universal_access_from_file_urls = STATE_DEFAULT;
    cef_state_t file_access_from_file_urls = STATE_DEFAULT;
    cef_state_t web_security = STATE_DEFAULT;
    cef_state_t image_loading = STATE_DEFAULT;
    cef_state_t image_shrink_standalone_to_fit = STATE_DEFAULT;
    cef_state_t text_area_resize = STATE_DEFAULT;
    cef_state_t tab_to_links = STATE_DEFAULT;
    cef_state_t local_storage = STATE_DEFAULT;
    cef_state_t databases = STATE_DEFAULT;
    cef_state_t application_cache = STATE_DEFAULT;
    cef_state_t webgl = STATE_DEFAULT;
    cef_color_t background_color = 0;
};

// Window style bits kept in CefWindowInfo::style (only WS_VISIBLE is interpreted).
enum : unsigned long {
    CEF_WS_CHILD = 0x40000000UL,
    CEF_WS_VISIBLE = 0x10000000UL,
    CEF_WS_CLIPSIBLINGS = 0x04000000UL,
    CEF_WS_CLIPCHILDREN = 0x02000000UL,
    CEF_WS_TABSTOP = 0x00010000UL,
    CEF_WS_OVERLAPPEDWINDOW = 0x00CF0000UL,
};
const int CEF_CW_USEDEFAULT = int(0x80000000U);

class CefWindowInfo {
public:
    unsigned long ex_style = 0;
    CefString window_name;
    unsigned long style = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    CefWindowHandle parent_window = 0;
    uintptr_t menu = 0;
    int windowless_rendering_enabled = 0;
    int transparent_painting_enabled = 0;
    // Out: the browser's own window, filled in by the runtime.
    CefWindowHandle window = 0;

    // A visible child window of parent at rect (style 0x56010000).
    void SetAsChild(CefWindowHandle parent, const CefRect& rect)
    {
        style = CEF_WS_CHILD | CEF_WS_CLIPCHILDREN | CEF_WS_CLIPSIBLINGS | CEF_WS_TABSTOP | CEF_WS_VISIBLE;
        parent_window = parent;
        x = rect.x;
        y = rect.y;
        width = rect.width;
        height = rect.height;
    }
    // Same, from a rectangle with left/top/right/bottom members (a Win32 RECT).
    template <class R, class = decltype(std::declval<const R&>().left + std::declval<const R&>().bottom)>
    void SetAsChild(CefWindowHandle parent, const R& r)
    {
        SetAsChild(parent, CefRect(int(r.left), int(r.top), int(r.right - r.left), int(r.bottom - r.top)));
    }
    // A visible top-level window owned by parent, at the default position and size (style 0x16CF0000).
    void SetAsPopup(CefWindowHandle parent, const CefString& name)
    {
        style = CEF_WS_OVERLAPPEDWINDOW | CEF_WS_CLIPCHILDREN | CEF_WS_CLIPSIBLINGS | CEF_WS_VISIBLE;
        parent_window = parent;
        x = y = width = height = CEF_CW_USEDEFAULT;
        window_name = name;
    }
    void SetAsWindowless(CefWindowHandle parent, bool transparent)
    {
        windowless_rendering_enabled = 1;
        parent_window = parent;
        transparent_painting_enabled = transparent ? 1 : 0;
    }
    bool IsPopupWindow() const { return !(style & CEF_WS_CHILD) && style != 0; }
};

struct CefKeyEvent {
    cef_key_event_type_t type = KEYEVENT_RAWKEYDOWN;
    uint32 modifiers = 0;
    int windows_key_code = 0;
    int native_key_code = 0;
    int is_system_key = 0;
    char16_t character = 0;
    char16_t unmodified_character = 0;
    int focus_on_editable_field = 0;
};

struct CefPopupFeatures {
    int x = 0;
    int xSet = 0;
    int y = 0;
    int ySet = 0;
    int width = 0;
    int widthSet = 0;
    int height = 0;
    int heightSet = 0;
    int menuBarVisible = 1;
    int statusBarVisible = 1;
    int toolBarVisible = 1;
    int locationBarVisible = 1;
    int scrollbarsVisible = 1;
    int resizable = 1;
    int fullscreen = 0;
    int dialog = 0;
};
