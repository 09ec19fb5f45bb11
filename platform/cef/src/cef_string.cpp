#include "include/internal/cef_string.h"

#include <cstring>

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

void freeText(char16* text) { delete[] text; }

std::u16string fromStruct(const cef_string_t* s)
{
    return s && s->str ? std::u16string(s->str, s->length) : std::u16string();
}

} // namespace

int cef_string_utf16_set(const char16* src, size_t src_len, cef_string_utf16_t* output, int copy)
{
    if (!output)
        return 0;
    char16* text = const_cast<char16*>(src);
    if (src && src_len && copy) {
        text = new char16[src_len + 1];
        std::memcpy(text, src, src_len * sizeof(char16));
        text[src_len] = 0;
    }
    cef_string_utf16_clear(output);
    if (!src || !src_len)
        return 1;
    output->str = text;
    output->length = src_len;
    output->dtor = copy ? &freeText : nullptr;
    return 1;
}

void cef_string_utf16_clear(cef_string_utf16_t* str)
{
    if (!str)
        return;
    if (str->dtor && str->str)
        str->dtor(str->str);
    str->str = nullptr;
    str->length = 0;
    str->dtor = nullptr;
}

CefString::CefString(struct_type* target) : str_(fromStruct(target)), target_(target) {}

CefString::CefString(const struct_type* src) : str_(fromStruct(src)) {}

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
    if (target_)
        cef_string_utf16_set(str_.data(), str_.size(), target_, 1);
}

std::string CefString::ToString() const { return Utf16ToUtf8(str_); }
std::wstring CefString::ToWString() const { return Utf16ToWide(str_); }

bool CefString::FromString(const std::string& utf8)
{
    store(Utf8ToUtf16(utf8));
    return true;
}

bool CefString::FromWString(const std::wstring& wide)
{
    store(WideToUtf16(wide));
    return true;
}

bool CefString::FromString16(const std::u16string& utf16)
{
    store(utf16);
    return true;
}

void CefString::clear() { store(std::u16string()); }
