#include "app/program_folder.h"

#include "app/path_containment.h"

#include <QRegularExpression>
#include <QUrl>

namespace {
QString g_appDir;
} // namespace

void setAppDirPath(const QString& path) { g_appDir = path; }
const QString& appDirPath() { return g_appDir; }

QString pathInAppDir(const QString& relative)
{
    const QString path = g_appDir + relative;
    // The file system cuts a path short at a NUL, before the part checked here.
    if (relative.contains(QChar(0)) || !path_containment::insideByText(path, g_appDir))
        return QString();
    return path;
}

bool pageInAppDir(const QString& url)
{
    static const QRegularExpression queryOrFragment(QStringLiteral("[?#]"));
    QString path = url.left(url.indexOf(queryOrFragment));
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    path = QUrl::fromPercentEncoding(path.toUtf8()).replace(QLatin1Char('\\'), QLatin1Char('/'));
    return !pathInAppDir(path).isEmpty();
}
