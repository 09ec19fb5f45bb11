// Bounded waits that keep the Qt event loop running.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace test_support {

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

} // namespace test_support
