#include "cefclient/gui_thread.h"

#include <QCoreApplication>

namespace cefclient {

void PostToGuiThread(std::function<void()> fn)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace cefclient
