// CefString: the runtime's text type, stored as UTF-16. Converts from and to UTF-8
// (std::string, const char*) and wide strings (UTF-32 wchar_t on Linux).
//
// CefString(&structure.field) attaches to a string field of a runtime structure (a
// cef_string_t): assignments and From*() calls write through to the field, as in
// `CefString(&settings.locale) = "en";`. A CefString made from a const field copies it.
#pragma once

#include "include/internal/cef_string_types.h"

#include <cstddef>
#include <string>

class CefString {
public:
    typedef char16 char_type;
    typedef cef_string_t struct_type;

    CefString() = default;
    CefString(const CefString& other) : str_(other.str_) {}
    CefString(CefString&& other) noexcept : str_(std::move(other.str_)) {}
    CefString(const std::string& utf8) { FromString(utf8); }
    CefString(const char* utf8) { FromString(utf8 ? std::string(utf8) : std::string()); }
    CefString(const std::wstring& wide) { FromWString(wide); }
    CefString(const wchar_t* wide) { FromWString(wide ? std::wstring(wide) : std::wstring()); }
    CefString(const std::u16string& utf16) : str_(utf16) {}
    CefString(const char16* utf16) : str_(utf16 ? std::u16string(utf16) : std::u16string()) {}
    // Attaches to target (see above).
    CefString(struct_type* target);
    // A copy of src.
    CefString(const struct_type* src);

    CefString& operator=(const CefString& other);
    CefString& operator=(CefString&& other) noexcept;

    // Conversions.
    std::string ToString() const;
    std::wstring ToWString() const;
    std::u16string ToString16() const { return str_; }
    operator std::string() const { return ToString(); }
    operator std::wstring() const { return ToWString(); }
    operator std::u16string() const { return str_; }

    bool FromString(const std::string& utf8);
    bool FromASCII(const char* ascii) { return FromString(ascii ? std::string(ascii) : std::string()); }
    bool FromWString(const std::wstring& wide);
    bool FromString16(const std::u16string& utf16);

    const char16* c_str() const { return str_.c_str(); }
    size_t length() const { return str_.length(); }
    size_t size() const { return str_.size(); }
    bool empty() const { return str_.empty(); }
    void clear();
    int compare(const CefString& other) const { return str_.compare(other.str_); }

    friend bool operator==(const CefString& a, const CefString& b) { return a.str_ == b.str_; }
    friend bool operator!=(const CefString& a, const CefString& b) { return a.str_ != b.str_; }
    friend bool operator<(const CefString& a, const CefString& b) { return a.str_ < b.str_; }
    friend bool operator>(const CefString& a, const CefString& b) { return a.str_ > b.str_; }
    friend bool operator<=(const CefString& a, const CefString& b) { return a.str_ <= b.str_; }
    friend bool operator>=(const CefString& a, const CefString& b) { return a.str_ >= b.str_; }

private:
    void store(std::u16string s);

    std::u16string str_;
    struct_type* target_ = nullptr;
};
