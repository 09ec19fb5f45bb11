#include "include/cef_url.h"

#include "cef_extras/qt_string.h"

#include <QMimeDatabase>

using cef_extras::ToCefString;
using cef_extras::ToQString;

CefString CefGetMimeType(const CefString& extension)
{
    const QString ext = ToQString(extension).toLower();
    if (ext.isEmpty())
        return CefString();
    const QMimeType t = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
    return t.isDefault() ? CefString() : ToCefString(t.name());
}
