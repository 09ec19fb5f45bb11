#include "windows.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>

HRESULT SHGetFolderPathW(HWND /*hwnd*/, int csidl, HANDLE /*hToken*/, DWORD /*dwFlags*/, LPWSTR pszPath)
{
    if (!pszPath || (csidl & ~CSIDL_FLAG_CREATE) != CSIDL_PERSONAL)
        return E_INVALIDARG;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        return E_FAIL;
    if (!QDir(folder).exists()) {
        if (!(csidl & CSIDL_FLAG_CREATE) || !QDir().mkpath(folder))
            return E_FAIL;
    }
    const QString native = QDir::toNativeSeparators(folder);
    if (native.size() >= MAX_PATH)
        return E_FAIL;
    std::copy(native.utf16(), native.utf16() + native.size(), pszPath);
    pszPath[native.size()] = 0;
    return S_OK;
}
