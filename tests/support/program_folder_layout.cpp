#include "program_folder_layout.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace test_support {

namespace {

bool copy(const QString& from, const QString& to)
{
    return QFile::copy(from, to) && QFile::setPermissions(to, QFileInfo(from).permissions());
}

bool link(const QString& from, const QString& to)
{
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 || copy(from, to);
}

// Copies the folder from, its subfolders too, into to.
bool copyTree(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + "/" + QDir(from).relativeFilePath(file);
        if (!QDir().mkpath(QFileInfo(target).path()) || !copy(file, target))
            return false;
    }
    return true;
}

} // namespace

QString ownExecutable()
{
    return QFile::symLinkTarget("/proc/self/exe");
}

bool layOutProgramFolder(const QString& folder, const ProgramFolderLayout& layout)
{
    const QString self = ownExecutable();
    const QString build = QFileInfo(self).path();
    if (self.isEmpty() || !QDir().mkpath(folder))
        return false;
    if (!layout.self.isEmpty() && !link(self, folder + "/" + layout.self))
        return false;
    for (const QString& name : layout.linked)
        if (!link(build + "/" + name, folder + "/" + name))
            return false;
    for (const QString& name : layout.copied)
        if (!copy(build + "/" + name, folder + "/" + name))
            return false;
    for (const QString& name : layout.resources) {
        const QString from = build + "/Resources", to = folder + "/Resources";
        if (name == "*" ? !copyTree(from, to)
                        : !QDir().mkpath(QFileInfo(to + "/" + name).path()) || !copy(from + "/" + name, to + "/" + name))
            return false;
    }
    return true;
}

} // namespace test_support
