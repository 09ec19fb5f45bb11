// Which thread is Qt's GUI thread: shared by the substitute layers and the program.
#pragma once

#include <QCoreApplication>
#include <QThread>

namespace qt_extras {

// Whether the caller runs on the GUI thread, the application object's own; false while there is
// no application.
inline bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace qt_extras
