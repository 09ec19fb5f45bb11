#include "gui_post.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/eventfd.h>

#include <deque>
#include <mutex>

namespace {

// Work for the GUI thread, in the order it was posted. The other threads wake the GUI thread
// through an event counter that its event loop watches, so that nothing but this queue passes
// between the threads.
struct GuiQueue {
    std::mutex lock;
    std::deque<std::function<void()>> work;
    bool open = false; // an application runs and takes work
    int wake = -1;
};

GuiQueue& queue()
{
    static GuiQueue q;
    return q;
}

// GUI thread.
void runPosted()
{
    GuiQueue& q = queue();
    eventfd_t count;
    eventfd_read(q.wake, &count);
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> lock(q.lock);
        batch.swap(q.work);
    }
    for (const std::function<void()>& fn : batch)
        fn();
}

void appGone()
{
    GuiQueue& q = queue();
    std::lock_guard<std::mutex> lock(q.lock);
    q.open = false;
    q.work.clear();
}

void appStarted()
{
    GuiQueue& q = queue();
    if (q.wake < 0)
        q.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (q.wake < 0)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    auto* notifier = new QSocketNotifier(q.wake, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] { runPosted(); });
    {
        std::lock_guard<std::mutex> lock(q.lock);
        q.open = true;
    }
    qAddPostRoutine(appGone);
}
Q_COREAPP_STARTUP_FUNCTION(appStarted)

} // namespace

bool win32_internal::postToGuiThread(std::function<void()> fn)
{
    GuiQueue& q = queue();
    {
        std::lock_guard<std::mutex> lock(q.lock);
        if (!q.open)
            return false;
        q.work.push_back(std::move(fn));
    }
    eventfd_write(q.wake, 1);
    return true;
}
