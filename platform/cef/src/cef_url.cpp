#include "include/cef_url.h"

#include "cef_extras/qt_string.h"

#include <QMimeDatabase>
#include <QUrl>

using cef_extras::ToCefString;
using cef_extras::ToQString;

namespace {

void setField(cef_string_t* field, const QString& value)
{
    CefString attached(field);
    attached = ToCefString(value);
}
QString field(const cef_string_t& f) { return ToQString(CefString(&f)); }

} // namespace

bool CefParseURL(const CefString& url, CefURLParts& parts)
{
    const QUrl u(ToQString(url), QUrl::StrictMode);
    if (!u.isValid() || u.scheme().isEmpty())
        return false;
    setField(&parts.spec, u.toString(QUrl::FullyEncoded));
    setField(&parts.scheme, u.scheme());
    setField(&parts.username, u.userName(QUrl::FullyEncoded));
    setField(&parts.password, u.password(QUrl::FullyEncoded));
    setField(&parts.host, u.host(QUrl::FullyEncoded));
    setField(&parts.port, u.port() >= 0 ? QString::number(u.port()) : QString());
    setField(&parts.origin,
             u.host().isEmpty() ? QString() : u.scheme() + "://" + u.authority(QUrl::FullyEncoded) + "/");
    setField(&parts.path, u.path(QUrl::FullyEncoded));
    setField(&parts.query, u.query(QUrl::FullyEncoded));
    return true;
}

bool CefCreateURL(const CefURLParts& parts, CefString& url)
{
    QUrl u;
    if (parts.spec.length) {
        u = QUrl(field(parts.spec), QUrl::StrictMode);
    } else {
        u.setScheme(field(parts.scheme));
        if (parts.username.length)
            u.setUserName(field(parts.username));
        if (parts.password.length)
            u.setPassword(field(parts.password));
        u.setHost(field(parts.host));
        if (parts.port.length)
            u.setPort(field(parts.port).toInt());
        u.setPath(field(parts.path));
        if (parts.query.length)
            u.setQuery(field(parts.query));
    }
    if (!u.isValid() || u.scheme().isEmpty())
        return false;
    url = ToCefString(u.toString(QUrl::FullyEncoded));
    return true;
}

CefString CefGetMimeType(const CefString& extension)
{
    const QString ext = ToQString(extension).toLower();
    if (ext.isEmpty())
        return CefString();
    const QMimeType t = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
    return t.isDefault() ? CefString() : ToCefString(t.name());
}
