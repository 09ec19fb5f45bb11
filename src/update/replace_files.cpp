#include "update/replace_files.h"

#include <QFile>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path nativePath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

} // namespace

bool replaceFile(const QString& from, const QString& to)
{
    std::error_code ec;
    fs::rename(nativePath(from), nativePath(to), ec);
    return !ec;
}
