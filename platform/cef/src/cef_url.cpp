#include "include/cef_url.h"

#include "cef_extras/qt_string.h"

#include <QMimeDatabase>

using cef_extras::ToCefString;
using cef_extras::ToQString;

CefString CefGetMimeType(const CefString& extension)
{
    const QString ext = ToQString(extension).toLower();
    // No file name holds a NUL, and the type database reads past the end of its cache for one.
    if (ext.isEmpty() || ext.contains(QChar(0)))
        return CefString();
    const QMimeType t = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
    return t.isDefault() ? CefString() : ToCefString(t.name());
}
