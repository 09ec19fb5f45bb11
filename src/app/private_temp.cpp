#include "app/private_temp.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN

// The system temporary folder is already the user's own there.
QString privateTempPathIn(const QString& base, const QString&) { return QDir::cleanPath(base); }
QString privateFolderAt(const QString& path) { return QDir().mkpath(path) ? QDir::cleanPath(path) : QString(); }
QString privateTempPath() { return QDir::cleanPath(QDir::tempPath()); }

#else

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A real folder (not reached through a link) owned by us with mode 0700; a wider mode is narrowed.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat st;
    if (lstat(path.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    if ((st.st_mode & 0777) == 0700)
        return true;
    return chmod(path.constData(), 0700) == 0;
}

} // namespace

QString privateFolderAt(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty() || (mkdir(name.constData(), 0700) != 0 && errno != EEXIST))
        return QString();
    return isPrivateFolder(name) ? path : QString();
}

QString privateTempPathIn(const QString& base, const QString& name)
{
    if (base.isEmpty())
        return QString();
    const QString root = QDir::cleanPath(base);
    const QString found = privateFolderAt(root + "/" + name);
    if (!found.isEmpty())
        return found;
    // The name is taken by something we must not use: a fresh folder of our own.
    QByteArray pattern = QFile::encodeName(root + "/" + name + "-XXXXXX");
    if (!mkdtemp(pattern.data()))
        return QString();
    return isPrivateFolder(pattern) ? QFile::decodeName(pattern) : QString();
}

QString privateTempPath()
{
    static const QString path =
        privateTempPathIn(QDir::tempPath(), QStringLiteral("tarquilmervane-%1").arg(geteuid()));
    return path;
}

#endif
