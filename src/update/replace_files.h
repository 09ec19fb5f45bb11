// Replacing files in place: one by rename, or a set of them so that either all of them change or
// none does.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// Renames from to to, replacing a file at to in one step.
bool replaceFile(const QString& from, const QString& to);

// Asked before every rename of replaceFile with its two names; a false answer fails that rename
// without touching either name. None by default; a test's fault injection. Set it while no
// replacement runs.
typedef std::function<bool(const QString& from, const QString& to)> RenameFaultHook;
void setRenameFaultHook(RenameFaultHook hook);

struct FileReplacement {
    QString path;
    QByteArray data;
};

enum class ReplaceResult {
    Done,
    OpenFailed, // a file beside the target could not be made, or the target could not be replaced
    WriteFailed, // the new bytes could not be written whole
};

// Writes every file's bytes to a new file beside it first (a replaced file's permissions kept, a new
// file readable by all), then renames each over its target, keeping the replaced ones until all are
// in place. On any failure every target is put back as it was and nothing new stays; failedPath
// names the file that failed. Each folder must exist.
ReplaceResult replaceFiles(const QList<FileReplacement>& files, QString* failedPath);
