#include "windows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

int SHFileOperationW(LPSHFILEOPSTRUCTW lpFileOp)
{
    if (!lpFileOp || lpFileOp->wFunc != FO_DELETE || !lpFileOp->pFrom || !lpFileOp->pFrom[0])
        return ERROR_INVALID_PARAMETER;
    lpFileOp->fAnyOperationsAborted = FALSE;
    int result = 0;
    for (const WCHAR* name = lpFileOp->pFrom; *name;) {
        const QString path = QString::fromUtf16(name);
        while (*name)
            ++name;
        ++name;
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            result = result ? result : int(ERROR_FILE_NOT_FOUND);
            continue;
        }
        const bool deleted = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
        if (!deleted)
            result = int(ERROR_ACCESS_DENIED);
    }
    return result;
}
