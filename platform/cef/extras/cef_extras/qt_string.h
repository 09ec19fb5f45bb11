// Conversions between the runtime's CefString and QString (both UTF-16: no re-encoding).
#pragma once

#include "include/internal/cef_string.h"

#include <QString>

namespace cef_extras {

inline QString ToQString(const CefString& s)
{
    return QString::fromUtf16(s.c_str(), int(s.length()));
}

inline CefString ToCefString(const QString& s)
{
    return CefString(std::u16string(reinterpret_cast<const char16*>(s.utf16()), size_t(s.size())));
}

} // namespace cef_extras
