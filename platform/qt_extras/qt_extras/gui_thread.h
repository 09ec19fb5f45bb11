// Qt's GUI thread: which thread it is, and handing work to it (widgets, desktop services, the
// main window's files) from other threads. Shared by the substitute layers and the program.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace qt_extras {

// Whether the caller runs on the GUI thread, the application object's own; false while there is
// no application.
inline bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace gui_thread_detail {

// The work handed over and not yet run, oldest first, under a lock of its own: the lock orders
// each hand-off for a thread checker, which cannot see the event queue's own lock.
struct Queue {
    std::mutex lock;
    std::deque<std::function<void()>> work;
};

inline Queue& queue()
{
    static Queue q;
    return q;
}

// Lives on the GUI thread; each of its events runs the oldest work.
class Runner : public QObject {
protected:
    void customEvent(QEvent*) override
    {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> hold(queue().lock);
            if (queue().work.empty())
                return;
            fn = std::move(queue().work.front());
            queue().work.pop_front();
        }
        fn();
    }
};

} // namespace gui_thread_detail

// Runs fn in a later turn of the GUI thread's event loop, also when called there, after the work
// handed over before it. Dropped when there is no application.
inline void PostToGuiThread(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    // Made once, on whichever thread hands work over first, and given to the GUI thread.
    static gui_thread_detail::Runner* const runner = [app] {
        auto* r = new gui_thread_detail::Runner;
        r->moveToThread(app->thread());
        return r;
    }();
    {
        std::lock_guard<std::mutex> hold(gui_thread_detail::queue().lock);
        gui_thread_detail::queue().work.push_back(std::move(fn));
    }
    QCoreApplication::postEvent(runner, new QEvent(QEvent::User));
}

} // namespace qt_extras
