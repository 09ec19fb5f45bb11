#include "include/internal/cef_string.h"

namespace cef_string_util {
namespace {

const char32_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(char16_t(0xD800 + (cp >> 10)));
        out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(char16_t(cp));
    }
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// Next code point of a UTF-16 string; unpaired surrogates become U+FFFD.
char32_t nextUtf16(const std::u16string& s, size_t& i)
{
    char32_t c = s[i++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
            char32_t lo = s[i++];
            return 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        }
        return kReplacement;
    }
    if (c >= 0xDC00 && c <= 0xDFFF)
        return kReplacement;
    return c;
}

} // namespace

std::u16string Utf8ToUtf16(const std::string& in)
{
    std::u16string out;
    out.reserve(in.size());
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            out.push_back(char16_t(c));
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        char32_t min;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, min = 0x10000;
        } else {
            appendUtf16(out, kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= n || (static_cast<unsigned char>(in[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(in[j]) & 0x3F);
        }
        if (!ok || cp < min) {
            appendUtf16(out, kReplacement);
            i = ok ? j : (j > i + 1 ? j : i + 1);
            continue;
        }
        appendUtf16(out, cp);
        i = j;
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& in)
{
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();)
        appendUtf8(out, nextUtf16(in, i));
    return out;
}

std::u16string WideToUtf16(const std::wstring& in)
{
    std::u16string out;
    out.reserve(in.size());
    if (sizeof(wchar_t) == 2) {
        for (wchar_t c : in)
            out.push_back(char16_t(c));
    } else {
        for (wchar_t c : in)
            appendUtf16(out, char32_t(c));
    }
    return out;
}

std::wstring Utf16ToWide(const std::u16string& in)
{
    std::wstring out;
    out.reserve(in.size());
    if (sizeof(wchar_t) == 2) {
        for (char16_t c : in)
            out.push_back(wchar_t(c));
    } else {
        for (size_t i = 0; i < in.size();)
            out.push_back(wchar_t(nextUtf16(in, i)));
    }
    return out;
}

} // namespace cef_string_util

CefString& CefString::operator=(const CefString& other)
{
    if (this != &other)
        store(other.str_);
    return *this;
}

CefString& CefString::operator=(CefString&& other) noexcept
{
    if (this != &other) {
        if (target_)
            store(other.str_);
        else
            str_ = std::move(other.str_);
    }
    return *this;
}

void CefString::store(std::u16string s)
{
    str_ = std::move(s);
    if (target_ && target_ != this)
        target_->store(str_);
}

std::string CefString::ToString() const { return cef_string_util::Utf16ToUtf8(str_); }
std::wstring CefString::ToWString() const { return cef_string_util::Utf16ToWide(str_); }

QString CefString::ToQString() const
{
    return QString::fromUtf16(str_.data(), int(str_.size()));
}

bool CefString::FromString(const std::string& utf8)
{
    store(cef_string_util::Utf8ToUtf16(utf8));
    return true;
}

bool CefString::FromWString(const std::wstring& wide)
{
    store(cef_string_util::WideToUtf16(wide));
    return true;
}

bool CefString::FromString16(const std::u16string& utf16)
{
    store(utf16);
    return true;
}

bool CefString::FromQString(const QString& qs)
{
    store(std::u16string(reinterpret_cast<const char16_t*>(qs.utf16()), size_t(qs.size())));
    return true;
}

void CefString::clear() { store(std::u16string()); }
