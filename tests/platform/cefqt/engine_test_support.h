// Helpers of the engine and runtime-layer tests (and the page-query bench): a bounded wait
// that keeps the event loop running, and the process environment the engine tests run in.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtGlobal>

#include <functional>

namespace cefqt_test {

// Runs the event loop in steps of pollMs until done() holds; false after ms without it.
inline bool waitFor(const std::function<bool()>& done, int ms = 20000, int pollMs = 5)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(pollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Engine flags and Qt platform of a test process, set before QApplication exists.
inline void setTestEnvironment()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
#ifdef TM_VIEW_TESTS
    // Views want a real X display (native child windows); without one they still
    // work offscreen with the software scene graph.
    if (qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
#endif
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace cefqt_test
