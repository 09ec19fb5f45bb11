#include "cefclient/gui_thread.h"

#include "qt_extras/gui_thread.h"

#include <QCoreApplication>

namespace cefclient {

void RunOnGuiThread(std::function<void()> fn)
{
    if (qt_extras::OnGuiThread())
        fn();
    else
        PostToGuiThread(std::move(fn));
}

void PostToGuiThread(std::function<void()> fn)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace cefclient
