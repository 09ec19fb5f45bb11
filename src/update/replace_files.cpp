#include "update/replace_files.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

RenameFaultHook& renameFaultHook()
{
    static RenameFaultHook hook;
    return hook;
}

fs::path nativePath(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

// Whether anything, a dangling link included, has that name.
bool present(const QString& path)
{
    std::error_code ec;
    return fs::symlink_status(nativePath(path), ec).type() != fs::file_type::not_found && !ec;
}

bool removeName(const QString& path)
{
    std::error_code ec;
    return fs::remove(nativePath(path), ec) && !ec;
}

struct Staged {
    QString target;
    std::unique_ptr<QTemporaryFile> file;
    QString backup; // the replaced target under another name; "" when there was none
};

// A second name for the target's file, so that it can come back whatever replaces the target.
bool keepAside(const QString& target, const QString& backup)
{
    std::error_code ec;
    fs::create_hard_link(nativePath(target), nativePath(backup), ec);
    if (!ec)
        return true;
    ec.clear();
    return fs::copy_file(nativePath(target), nativePath(backup), ec) && !ec;
}

} // namespace

void setRenameFaultHook(RenameFaultHook hook) { renameFaultHook() = std::move(hook); }

bool replaceFile(const QString& from, const QString& to)
{
    if (renameFaultHook() && !renameFaultHook()(from, to))
        return false;
    std::error_code ec;
    fs::rename(nativePath(from), nativePath(to), ec);
    return !ec;
}

ReplaceResult replaceFiles(const QList<FileReplacement>& files, QString* failedPath)
{
    std::vector<Staged> staged;
    staged.reserve(static_cast<size_t>(files.size()));
    for (const FileReplacement& f : files) {
        *failedPath = f.path;
        Staged s;
        s.target = f.path;
        s.file = std::make_unique<QTemporaryFile>(f.path + QStringLiteral(".XXXXXX"));
        if (!s.file->open())
            return ReplaceResult::OpenFailed;
        if (s.file->write(f.data) != f.data.size() || !s.file->flush())
            return ReplaceResult::WriteFailed;
        const QFileInfo old(f.path);
        const QFileDevice::Permissions permissions = old.exists()
            ? old.permissions()
            : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser
                | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        s.file->setPermissions(permissions);
        s.file->close();
        if (s.file->error() != QFileDevice::NoError)
            return ReplaceResult::WriteFailed;
        staged.push_back(std::move(s));
    }

    // Puts back the targets before index, latest first.
    auto undo = [&](size_t index) {
        for (size_t j = index; j-- > 0;) {
            Staged& s = staged[j];
            if (s.backup.isEmpty())
                removeName(s.target);
            else
                replaceFile(s.backup, s.target);
        }
    };
    for (size_t i = 0; i < staged.size(); ++i) {
        Staged& s = staged[i];
        *failedPath = s.target;
        if (present(s.target)) {
            const QString backup = s.file->fileName() + QStringLiteral(".old");
            if (!keepAside(s.target, backup)) {
                undo(i);
                return ReplaceResult::OpenFailed;
            }
            s.backup = backup;
        }
        if (!replaceFile(s.file->fileName(), s.target)) {
            if (!s.backup.isEmpty())
                removeName(s.backup);
            undo(i);
            return ReplaceResult::OpenFailed;
        }
        s.file->setAutoRemove(false);
    }
    for (const Staged& s : staged)
        if (!s.backup.isEmpty())
            removeName(s.backup);
    failedPath->clear();
    return ReplaceResult::Done;
}
