// Qt's GUI thread: which thread it is, and handing work to it (widgets, desktop services, the
// main window's files) from other threads. Shared by the substitute layers and the program.
#pragma once

#include <QCoreApplication>
#include <QThread>

#include <functional>
#include <utility>

namespace qt_extras {

// Whether the caller runs on the GUI thread, the application object's own; false while there is
// no application.
inline bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Runs fn in a later turn of the GUI thread's event loop, also when called there. Dropped when
// there is no application.
inline void PostToGuiThread(std::function<void()> fn)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace qt_extras
