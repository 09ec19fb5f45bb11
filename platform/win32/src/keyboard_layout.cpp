#include "windows.h"
#include "win32sim/keyboard_layout.h"

#include <QMutex>

namespace {

QMutex g_lock;
std::vector<win32sim::LayoutLoad> g_loads;

} // namespace

HKL LoadKeyboardLayoutW(LPCWSTR pwszKLID, UINT Flags)
{
    const QString id = pwszKLID ? QString::fromUtf16(pwszKLID) : QString();
    {
        QMutexLocker lock(&g_lock);
        g_loads.push_back({id, Flags});
    }
    bool ok = false;
    const uint language = id.toUInt(&ok, 16) & 0xFFFF;
    if (!ok || !language) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The layout's handle carries its language in both words, as the target platform's do.
    return reinterpret_cast<HKL>(static_cast<uintptr_t>(language | (language << 16)));
}

namespace win32sim {

std::vector<LayoutLoad> keyboardLayoutLoads()
{
    QMutexLocker lock(&g_lock);
    return g_loads;
}

void clearKeyboardLayoutLoads()
{
    QMutexLocker lock(&g_lock);
    g_loads.clear();
}

} // namespace win32sim
