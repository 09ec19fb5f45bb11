#include "windows.h"
#include "win32sim/registry.h"

#include <QMap>
#include <QMutex>
#include <QString>

#include <map>
#include <memory>

namespace {

struct Key {
    REGSAM granted = 0;
    QMap<QString, QString> strings; // value names in lower case
};

struct OpenKey {
    QString path;
    REGSAM access;
};

QMutex g_lock;
std::map<QString, Key> g_keys; // "<root>\\<path>" in lower case
std::map<HKEY__*, std::unique_ptr<OpenKey>> g_open;

QString keyPath(HKEY root, const QString& path)
{
    return QString::number(reinterpret_cast<uintptr_t>(root), 16) + QLatin1Char('\\') + path.toLower();
}

QString text(LPCWSTR s) { return s ? QString::fromUtf16(s) : QString(); }

// The key an open handle names, or null.
Key* keyOf(HKEY handle, REGSAM need)
{
    auto open = g_open.find(handle);
    if (open == g_open.end() || !(open->second->access & need))
        return nullptr;
    auto key = g_keys.find(open->second->path);
    return key == g_keys.end() ? nullptr : &key->second;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD, REGSAM samDesired, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    QMutexLocker lock(&g_lock);
    const QString path = keyPath(hKey, text(subKey));
    auto key = g_keys.find(path);
    if (key == g_keys.end())
        return ERROR_FILE_NOT_FOUND;
    if ((samDesired & key->second.granted) != samDesired || !key->second.granted)
        return ERROR_ACCESS_DENIED;
    auto open = std::make_unique<OpenKey>(OpenKey{path, samDesired});
    *result = reinterpret_cast<HKEY>(open.get());
    g_open[*result] = std::move(open);
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD cbData)
{
    QMutexLocker lock(&g_lock);
    Key* key = keyOf(hKey, KEY_SET_VALUE);
    if (!key)
        return g_open.count(hKey) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE;
    if (type != REG_SZ || (cbData && !data) || cbData % sizeof(WCHAR))
        return ERROR_INVALID_PARAMETER;
    QString value = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), int(cbData / sizeof(WCHAR)));
    const int end = value.indexOf(QChar(0));
    if (end >= 0)
        value.truncate(end);
    key->strings[text(valueName).toLower()] = value;
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName)
{
    QMutexLocker lock(&g_lock);
    Key* key = keyOf(hKey, KEY_SET_VALUE);
    if (!key)
        return g_open.count(hKey) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE;
    return key->strings.remove(text(valueName).toLower()) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS RegCloseKey(HKEY hKey)
{
    QMutexLocker lock(&g_lock);
    return g_open.erase(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace win32sim {

void createRegistryKey(HKEY root, const QString& path, REGSAM grantedAccess)
{
    QMutexLocker lock(&g_lock);
    g_keys[keyPath(root, path)].granted = grantedAccess;
}

void clearRegistry()
{
    QMutexLocker lock(&g_lock);
    g_keys.clear();
}

std::optional<QString> registryString(HKEY root, const QString& path, const QString& valueName)
{
    QMutexLocker lock(&g_lock);
    auto key = g_keys.find(keyPath(root, path));
    if (key == g_keys.end() || !key->second.strings.contains(valueName.toLower()))
        return std::nullopt;
    return key->second.strings.value(valueName.toLower());
}

int openRegistryKeys()
{
    QMutexLocker lock(&g_lock);
    return int(g_open.size());
}

} // namespace win32sim
