#include "include/cef_url.h"

#include <QMimeDatabase>
#include <QUrl>

bool CefParseURL(const CefString& url, CefURLParts& parts)
{
    const QUrl u(url.ToQString(), QUrl::StrictMode);
    if (!u.isValid() || u.scheme().isEmpty())
        return false;
    parts.full_url = u.toString(QUrl::FullyEncoded);
    parts.scheme = u.scheme();
    parts.username = u.userName(QUrl::FullyEncoded);
    parts.password = u.password(QUrl::FullyEncoded);
    parts.host = u.host(QUrl::FullyEncoded);
    parts.port = u.port() >= 0 ? QString::number(u.port()) : QString();
    parts.origin = u.host().isEmpty() ? QString() : u.scheme() + "://" + u.authority(QUrl::FullyEncoded) + "/";
    parts.path = u.path(QUrl::FullyEncoded);
    parts.query = u.query(QUrl::FullyEncoded);
    return true;
}

bool CefCreateURL(const CefURLParts& parts, CefString& url)
{
    QUrl u;
    if (!parts.full_url.empty()) {
        u = QUrl(parts.full_url.ToQString(), QUrl::StrictMode);
    } else {
        u.setScheme(parts.scheme.ToQString());
        if (!parts.username.empty())
            u.setUserName(parts.username.ToQString());
        if (!parts.password.empty())
            u.setPassword(parts.password.ToQString());
        u.setHost(parts.host.ToQString());
        if (!parts.port.empty())
            u.setPort(parts.port.ToQString().toInt());
        u.setPath(parts.path.ToQString());
        if (!parts.query.empty())
            u.setQuery(parts.query.ToQString());
    }
    if (!u.isValid() || u.scheme().isEmpty())
        return false;
    url = u.toString(QUrl::FullyEncoded);
    return true;
}

CefString CefGetMimeType(const CefString& extension)
{
    const QString ext = extension.ToQString().toLower();
    if (ext.isEmpty())
        return CefString();
    const QMimeType t = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
    return t.isDefault() ? CefString() : CefString(t.name());
}
