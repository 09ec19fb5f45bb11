// Structures of the runtime: geometry, settings, window description, URL parts, cookies, key
// event, popup features. The structures with text fields own their texts: a copy copies them.
#pragma once

#include "include/internal/cef_string.h"
#include "include/internal/cef_types.h"

#include <cstring>
#include <string>
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

// A C structure of the runtime with its text fields owned: Traits names the structure
// (struct_type) and its text fields (strings); everything else is copied as it is.
template <class Traits>
class CefStructBase : public Traits::struct_type {
public:
    typedef typename Traits::struct_type struct_type;

    CefStructBase() { init(); }
    CefStructBase(const CefStructBase& other) : struct_type()
    {
        init();
        Set(other);
    }
    CefStructBase(const struct_type& src) : struct_type()
    {
        init();
        Set(src);
    }
    ~CefStructBase() { clearStrings(); }

    CefStructBase& operator=(const CefStructBase& other)
    {
        Set(other);
        return *this;
    }
    CefStructBase& operator=(const struct_type& src)
    {
        Set(src);
        return *this;
    }

    // Copies src, its texts included.
    void Set(const struct_type& src)
    {
        if (&src == static_cast<struct_type*>(this))
            return;
        clearStrings();
        static_cast<struct_type&>(*this) = src;
        for (cef_string_t struct_type::*field : Traits::strings) {
            cef_string_t& text = this->*field;
            text = cef_string_t();
            cef_string_utf16_set((src.*field).str, (src.*field).length, &text, 1);
        }
    }

private:
    void init()
    {
        std::memset(static_cast<struct_type*>(this), 0, sizeof(struct_type));
        Traits::init(this);
    }
    void clearStrings()
    {
        for (cef_string_t struct_type::*field : Traits::strings)
            cef_string_utf16_clear(&(this->*field));
    }
};

struct CefSettingsTraits {
    typedef cef_settings_t struct_type;
    static void init(struct_type* s) { s->size = sizeof(struct_type); }
    static constexpr cef_string_t struct_type::*strings[] = {
        &struct_type::browser_subprocess_path, &struct_type::cache_path,         &struct_type::user_agent,
        &struct_type::product_version,         &struct_type::locale,             &struct_type::log_file,
        &struct_type::javascript_flags,        &struct_type::resources_dir_path, &struct_type::locales_dir_path,
        &struct_type::accept_language_list};
};
typedef CefStructBase<CefSettingsTraits> CefSettings;

struct CefBrowserSettingsTraits {
    typedef cef_browser_settings_t struct_type;
    static void init(struct_type* s) { s->size = sizeof(struct_type); }
    static constexpr cef_string_t struct_type::*strings[] = {
        &struct_type::standard_font_family, &struct_type::fixed_font_family,   &struct_type::serif_font_family,
        &struct_type::sans_serif_font_family, &struct_type::cursive_font_family, &struct_type::fantasy_font_family,
        &struct_type::default_encoding};
};
typedef CefStructBase<CefBrowserSettingsTraits> CefBrowserSettings;

struct CefCookieTraits {
    typedef cef_cookie_t struct_type;
    static void init(struct_type*) {}
    static constexpr cef_string_t struct_type::*strings[] = {&struct_type::name, &struct_type::value,
                                                             &struct_type::domain, &struct_type::path};
};
typedef CefStructBase<CefCookieTraits> CefCookie;

struct CefWindowInfoTraits {
    typedef cef_window_info_t struct_type;
    static void init(struct_type*) {}
    static constexpr cef_string_t struct_type::*strings[] = {&struct_type::window_name};
};

class CefWindowInfo : public CefStructBase<CefWindowInfoTraits> {
public:
    // A visible child window of parent at the rectangle given by its left, top, right and
    // bottom (a Win32 RECT); style WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_TABSTOP |
    // WS_VISIBLE.
    template <class R, class = decltype(std::declval<const R&>().left + std::declval<const R&>().bottom)>
    void SetAsChild(CefWindowHandle parent, const R& windowRect)
    {
        style = 0x56010000UL;
        parent_window = parent;
        x = int(windowRect.left);
        y = int(windowRect.top);
        width = int(windowRect.right - windowRect.left);
        height = int(windowRect.bottom - windowRect.top);
    }
    // A visible top-level window owned by parent, at the default position and size (CW_USEDEFAULT);
    // style WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_VISIBLE.
    void SetAsPopup(CefWindowHandle parent, const CefString& windowName)
    {
        style = 0x16CF0000UL;
        parent_window = parent;
        x = y = width = height = int(0x80000000U);
        CefString(&this->window_name) = windowName;
    }
    void SetAsWindowless(CefWindowHandle parent, bool transparent)
    {
        windowless_rendering_enabled = 1;
        parent_window = parent;
        transparent_painting_enabled = transparent ? 1 : 0;
    }
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
