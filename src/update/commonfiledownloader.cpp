#include "update/commonfiledownloader.h"

#include "app/application.h"

#include "include/base/cef_logging.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>

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
    if (name.isEmpty())
        name = QStringLiteral("file-%1").arg(std::rand());
    if (!isDownloadUrl(url) || !isSafeDownloadName(name) || pathInAppDir(relativeDir + name).isEmpty()) {
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
