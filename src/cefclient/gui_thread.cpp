#include "cefclient/gui_thread.h"

#include "qt_extras/gui_thread.h"

#include <QCoreApplication>
#include <QSemaphore>

#include <memory>

namespace cefclient {

void PostToGuiThread(std::function<void()> fn)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool WaitForGuiThread(int timeoutMs)
{
    if (!QCoreApplication::instance() || qt_extras::OnGuiThread())
        return false;
    // Shared: after a time-out the GUI thread may still release it.
    const auto reached = std::make_shared<QSemaphore>();
    PostToGuiThread([reached] { reached->release(); });
    return reached->tryAcquire(1, timeoutMs);
}

} // namespace cefclient
