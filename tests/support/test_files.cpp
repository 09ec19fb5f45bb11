#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace test_support {

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString shortTempBase()
{
    const QString temp = QDir::tempPath();
    return QFile::encodeName(temp).size() <= 40 ? temp : QStringLiteral("/tmp");
}

} // namespace test_support
