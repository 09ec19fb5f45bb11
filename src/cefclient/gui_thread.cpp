#include "cefclient/gui_thread.h"

#include <QCoreApplication>
#include <QThread>

namespace cefclient {

bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void PostToGuiThread(std::function<void()> fn)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace cefclient
