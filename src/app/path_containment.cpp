#include "app/path_containment.h"

#include <QDir>
#include <QFileInfo>

namespace path_containment {

namespace {

// The part of path after folder and a separator; "" unless something follows them.
QString partBelow(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return QString();
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (path.size() <= prefix.size() || !path.startsWith(prefix))
        return QString();
    return path.mid(prefix.size());
}

// The path itself when it exists, else its nearest existing parent (as the name gives it).
QString existingAncestor(const QString& path)
{
    QString p = QDir::cleanPath(path);
    while (!QFileInfo::exists(p)) {
        const int slash = p.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return slash == 0 ? QStringLiteral("/") : QStringLiteral(".");
        p.truncate(slash);
    }
    return p;
}

} // namespace

QString relativeByText(const QString& path, const QString& folder, Qt::CaseSensitivity cs)
{
    QString cleanPath = QDir::cleanPath(path);
    QString cleanFolder = QDir::cleanPath(folder);
    if (cs == Qt::CaseInsensitive) {
        cleanPath = cleanPath.toLower();
        cleanFolder = cleanFolder.toLower();
    }
    return partBelow(cleanPath, cleanFolder);
}

bool insideByText(const QString& path, const QString& folder, Qt::CaseSensitivity cs)
{
    return !relativeByText(path, folder, cs).isEmpty();
}

QString realPathInside(const QString& path, const QString& folder, Itself itself, Missing missing)
{
    if (path.isEmpty() || folder.isEmpty())
        return QString();
    const QString real =
        QFileInfo(missing == Missing::NearestExisting ? existingAncestor(path) : path).canonicalFilePath();
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    if (real.isEmpty() || realFolder.isEmpty())
        return QString();
    if (real == realFolder)
        return itself == Itself::Inside ? real : QString();
    return partBelow(real, realFolder).isEmpty() ? QString() : real;
}

bool insideResolved(const QString& path, const QString& folder, Itself itself, Missing missing)
{
    return !realPathInside(path, folder, itself, missing).isEmpty();
}

} // namespace path_containment
