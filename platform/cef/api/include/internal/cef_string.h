// CefString: the runtime's text type, stored as UTF-16. Converts from and to UTF-8
// (std::string, const char*), wide strings (UTF-32 wchar_t on Linux) and QString.
//
// CefString(&target) attaches to an existing CefString (for instance a settings field):
// assignments and From*() calls on the attached object write through to the target,
// so both `CefString(&settings.locale) = "en";` and `settings.locale = "en";` work.
#pragma once

#include <QString>

#include <cstddef>
#include <string>

class CefString {
public:
    typedef char16_t char_type;

    CefString() = default;
    CefString(const CefString& other) : str_(other.str_) {}
    CefString(CefString&& other) noexcept : str_(std::move(other.str_)) {}
    CefString(const std::string& utf8) { FromString(utf8); }
    CefString(const char* utf8) { FromString(utf8 ? std::string(utf8) : std::string()); }
    CefString(const std::wstring& wide) { FromWString(wide); }
    CefString(const wchar_t* wide) { FromWString(wide ? std::wstring(wide) : std::wstring()); }
    CefString(const std::u16string& utf16) : str_(utf16) {}
    CefString(const char16_t* utf16) : str_(utf16 ? std::u16string(utf16) : std::u16string()) {}
    CefString(const QString& qs) { FromQString(qs); }
    // Attaches to target (see above); the attached object reads the target's value.
    explicit CefString(CefString* target) : str_(target ? target->str_ : std::u16string()), target_(target) {}

    CefString& operator=(const CefString& other);
    CefString& operator=(CefString&& other) noexcept;

    // Conversions.
    std::string ToString() const;
    std::wstring ToWString() const;
    std::u16string ToString16() const { return str_; }
    QString ToQString() const;
    operator std::string() const { return ToString(); }
    operator std::wstring() const { return ToWString(); }
    operator std::u16string() const { return str_; }

    bool FromString(const std::string& utf8);
    bool FromASCII(const char* ascii) { return FromString(ascii ? std::string(ascii) : std::string()); }
    bool FromWString(const std::wstring& wide);
    bool FromString16(const std::u16string& utf16);
    bool FromQString(const QString& qs);

    const char16_t* c_str() const { return str_.c_str(); }
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
    CefString* target_ = nullptr;
};

// Text conversions used by CefString; invalid input sequences become U+FFFD.
namespace cef_string_util {
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);
std::u16string WideToUtf16(const std::wstring& wide);
std::wstring Utf16ToWide(const std::u16string& utf16);
} // namespace cef_string_util
