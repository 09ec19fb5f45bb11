#include "update/commonfiledownloader.h"

#include "app/path_containment.h"
#include "app/program_folder.h"
#include "app/pswindow.h"

#include "include/base/cef_logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdlib>

bool isProgramFile(const QString& path)
{
    // Windows drops trailing dots and blanks of a name.
    static const QRegularExpression trailing(QStringLiteral("[. ]+$"));
    static const QRegularExpression library(QStringLiteral("\\.(dll|so|dylib)$|\\.so\\."));
    const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toLower();
    const QStringList programNames = {exe, exe + QStringLiteral(".exe"), QStringLiteral("crashreporter.exe"), QStringLiteral("updater.exe"), QStringLiteral("updater"),
        QStringLiteral("skn.dat")};
    for (const QString& dir : {appDirPath(), exeDirPath(), QCoreApplication::applicationDirPath()}) {
        const QString inside = path_containment::relativeByText(path, dir, Qt::CaseInsensitive).remove(trailing);
        if (inside.isEmpty())
            continue;
        if (inside.startsWith(QLatin1String("resources/")) || library.match(QFileInfo(inside).fileName()).hasMatch()
            || (!inside.contains(QLatin1Char('/')) && programNames.contains(inside)))
            return true;
    }
    return false;
}

commonFileDownloader::commonFileDownloader(QThread* thread, const QString& url, const QString& relativeDir,
    QObject* parent)
    : RangedDownload(thread, url, parent)
    , relativeDir(relativeDir)
{
    prepareOutput();
}

void commonFileDownloader::prepareOutput()
{
    QString name = downloadFileName(url);
    if (name.isEmpty()) {
        name = QStringLiteral("file-%1").arg(std::rand());
        // The next request for the address makes up another name.
        resumable = false;
    }
    const QString local = pathInAppDir(relativeDir + name);
    if (!isDownloadUrl(url) || !isSafeDownloadName(name) || local.isEmpty() || isProgramFile(local)) {
        prepareTarget(QString());
        return;
    }
    const QString folder = appDirPath() + relativeDir;
    if (!QFileInfo(folder).isDir())
        QDir().mkdir(folder);
    prepareTarget(folder + name);
}

void commonFileDownloader::discardOutput() { QFile::remove(partPath()); }

void commonFileDownloader::downloaded(bool) { emit downLoadFinished(); }

void commonFileDownloader::logInfo(const QString& text) const { LOG(INFO) << text.toStdString(); }
