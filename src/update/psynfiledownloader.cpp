#include "update/psynfiledownloader.h"

#include "app/application.h"
#include "app/file_package.h"
#include "app/lzma_uncompress.h"
#include "update/replace_files.h"

#include "include/base/cef_logging.h"

#include "windows.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <cstring>

namespace {

// Deletes the plain, visible files directly in folder other than keep, or makes the folder.
void clearFolder(const QString& folder, const QString& keep)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        QDir().mkdir(folder);
        return;
    }
    const QString kept = QFileInfo(keep).absoluteFilePath();
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files))
        if (entry.absoluteFilePath() != kept)
            QFile::remove(entry.absoluteFilePath());
}

} // namespace

PsynfileDownLoader::PsynfileDownLoader(QThread* thread, const QString& url)
    : RangedDownload(thread, url, nullptr)
{
    prepareOutput();
}

void PsynfileDownLoader::prepareOutput()
{
    QString name = downloadFileName(url);
    if (name.isEmpty())
        name = QStringLiteral("tupload-%1").arg(std::rand());
    if (!isDownloadUrl(url) || !isSafeDownloadName(name) || appDirPath().isEmpty()) {
        prepareTarget(QString());
        return;
    }
    const QString work = appDirPath() + QStringLiteral("tupload/");
    const QString download = work + QStringLiteral("download/");
    const QString target = download + name;
    clearFolder(work, target + QStringLiteral(".part"));
    clearFolder(download, target + QStringLiteral(".part"));
    prepareTarget(target);
}

void PsynfileDownLoader::discardOutput() { clearWorkDir(); }

void PsynfileDownLoader::downloaded(bool rangeWasWhole)
{
    if (!rangeWasWhole)
        emit downLoadFinished();
    unpackUpdate();
}

void PsynfileDownLoader::logInfo(const QString& text) const { LOG(INFO) << text.toStdString(); }

void PsynfileDownLoader::clearWorkDir() { deleteDirectoryTree(appDirPath() + QStringLiteral("tupload")); }

void PsynfileDownLoader::failInstall(const QString& line)
{
    logInfo(line);
    clearWorkDir();
    emit downLoadFailed();
}

void PsynfileDownLoader::unpackUpdate()
{
    QFile package(targetPath());
    if (!package.open(QIODevice::ReadOnly)) {
        failInstall(QStringLiteral("Update Erro: cant read updates file!"));
        return;
    }
    const QByteArray bytes = package.readAll();
    package.close();
    if (bytes.size() - FilePackage::StreamOffset <= 0) {
        failInstall(QStringLiteral("Update Error: bad compressed size: %1").arg(bytes.size()));
        return;
    }
    QByteArray payload;
    int code = 0, decoded = 0;
    switch (FilePackage::unpack(bytes, &payload, &code, &decoded)) {
    case FilePackage::Ok:
        break;
    case FilePackage::TooShort:
        failInstall(QStringLiteral("Update Error: bad compressed size: %1").arg(bytes.size()));
        return;
    case FilePackage::BadDigest:
        failInstall(QStringLiteral("Update Error: bad SHA1 hash of update file!"));
        return;
    case FilePackage::BadSize:
        // A declared size beyond the caps is refused before anything is allocated.
        failInstall(QStringLiteral("Update Error: could not uncompress lzma, code: %1").arg(LZMA_RESULT_MEM));
        return;
    case FilePackage::DecodeFailed:
        failInstall(QStringLiteral("Update Error: could not uncompress lzma, code: %1").arg(code));
        return;
    }
    // Only what the stream gave is read: an early end mark leaves no made-up bytes.
    payload.truncate(decoded);

    // Every record is read and checked before the first file is written.
    FilePackage::Reader reader(payload);
    if (reader.status() != QDataStream::Ok) {
        failInstall(QStringLiteral("Update Error: cant read version from downloaded stream, status: %1").arg(reader.status()));
        return;
    }
    quint32 count = 0;
    if (!reader.readCount(&count)) {
        if (reader.status() != QDataStream::Ok)
            failInstall(QStringLiteral("Update Error: cant read files count from downloaded stream, status: %1")
                            .arg(reader.status()));
        else
            failInstall(QStringLiteral("Update Error: update is empty!"));
        return;
    }
    QString base = appDirPath();
    base.chop(1);
    QList<FileReplacement> files;
    for (quint32 i = 0; i < count; ++i) {
        FilePackage::Entry entry;
        if (!reader.readEntry(&entry)) {
            if (reader.status() != QDataStream::Ok)
                failInstall(QStringLiteral("Update Error: cant read file from downloaded stream, status: %1")
                                .arg(reader.status()));
            else
                failInstall(QStringLiteral("Update Error: bad file size %1 not matching data size %2")
                                .arg(entry.size)
                                .arg(entry.data.size()));
            return;
        }
        if (!FilePackage::isSafeEntryName(entry.name)) {
            failInstall(QStringLiteral("Update Error: bad file name '%1' in the update").arg(entry.name));
            return;
        }
        const QString target = base + QLatin1Char('/') + entry.name;
        // No folder is made: a file inside a missing one cannot be opened.
        if (!QFileInfo(QFileInfo(target).path()).isDir()) {
            failInstall(QStringLiteral("Can't open '%1' for read..\n").arg(target));
            return;
        }
        files.append({target, entry.data});
    }

    QString failed;
    switch (replaceFiles(files, &failed)) {
    case ReplaceResult::Done:
        break;
    case ReplaceResult::OpenFailed:
        failInstall(QStringLiteral("Can't open '%1' for read..\n").arg(failed));
        return;
    case ReplaceResult::WriteFailed:
        failInstall(QStringLiteral("write file failed"));
        return;
    }
    QFile::remove(targetPath());
    emit unpressFinished();
}

void deleteDirectoryTree(const QString& path)
{
    // The shell reads a relative name against the working folder.
    if (path.isEmpty() || QDir::isRelativePath(path))
        return;
    const QString native = QDir::toNativeSeparators(path);
    static const int kUnits = 4096;
    if (native.size() + 2 > kUnits)
        return;
    WCHAR from[kUnits];
    std::memcpy(from, native.utf16(), sizeof(WCHAR) * static_cast<size_t>(native.size()));
    from[native.size()] = 0;
    from[native.size() + 1] = 0;
    static const WCHAR empty[2] = {0, 0};
    SHFILEOPSTRUCTW op = {};
    op.hwnd = 0;
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.pTo = empty;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    op.hNameMappings = nullptr;
    op.lpszProgressTitle = empty;
    SHFileOperationW(&op);
}
