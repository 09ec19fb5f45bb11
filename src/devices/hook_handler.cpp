#include "devices/hook_handler.h"

#include <QMutex>

namespace {

QMutex g_lock;
QString g_recorded;

} // namespace

bool hook_handler::startMouseTracks()
{
    // Recording needs a system-wide low-level mouse hook, which this system's platform layer does
    // not offer: nothing can be recorded.
    return false;
}

QString hook_handler::stopMouseTracks()
{
    QMutexLocker lock(&g_lock);
    return g_recorded;
}
