// How often the calling thread's event loop wakes up while nothing is asked of it.
#pragma once

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace test_support {

// Runs the event loop for ms and gives the number of times it went to sleep waiting for
// events (each one ended by a wakeup); the timer that ends the count adds one.
inline int countWakeups(int ms)
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return -1;
    int sleeps = 0;
    QEventLoop loop;
    const QMetaObject::Connection counting =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&sleeps] { ++sleeps; });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(counting);
    return sleeps;
}

} // namespace test_support
