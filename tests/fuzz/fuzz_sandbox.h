// Folders of the fuzz targets: what a folder holds, to see what a target wrote or left alone.
#pragma once

#include "fuzz_check.h"

#include "app/path_containment.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegExp>
#include <QString>
#include <QUrl>

#include <cstring>

namespace fuzz_sandbox {

enum class Folders { Skipped, Listed };

// Every file below folder with its bytes, named relative to it; with Folders::Listed every folder
// too, named with a trailing "/" and no bytes. Links are neither listed nor followed.
inline QMap<QString, QByteArray> filesBelow(const QString& folder, Folders folders = Folders::Skipped)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink())
            continue;
        const QString name = QDir(folder).relativeFilePath(path);
        if (info.isDir()) {
            if (folders == Folders::Listed)
                out.insert(name + QLatin1Char('/'), QByteArray());
            continue;
        }
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        out.insert(name, file.readAll());
    }
    return out;
}

// Whether the file a browser opens for a "file:" URL lies below folder, read with the leniency of
// a browser's URL parser: backslashes separate, escapes are decoded, the query and fragment are no
// part of it.
inline bool fileUrlBelow(const QString& url, const QString& folder)
{
    if (!url.startsWith(QLatin1String("file://")))
        return false;
    QString path = url.mid(int(std::strlen("file://")));
    const int end = path.indexOf(QRegExp(QStringLiteral("[?#]")));
    if (end >= 0)
        path.truncate(end);
    path = QUrl::fromPercentEncoding(path.toUtf8()).replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path_containment::insideByText(path, folder) && !path.contains(QChar(0));
}

} // namespace fuzz_sandbox
