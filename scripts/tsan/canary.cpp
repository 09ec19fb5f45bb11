// Checks the thread pass itself. Two threads count in one variable: "race" unguarded, which must
// be reported; "guarded" under a QMutex, which must not be once Qt's locks are made visible.
// "waiting": one thread writes under a QMutex and waits on a condition with it, the other takes
// the mutex meanwhile, reads what the first wrote and wakes it; the first then reads what the
// second wrote. Nothing may be reported once the wait is made visible too, and without that the
// accesses are reported. "posting": two threads count unguarded between posting events, which
// must be reported although Qt's own work while posting is not watched.
#include <QCoreApplication>
#include <QEvent>
#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

#include <cstring>
#include <thread>

namespace {

int counter = 0;
QMutex lock;

void count(bool guarded)
{
    for (int i = 0; i < 1000; ++i) {
        if (guarded) {
            QMutexLocker locker(&lock);
            ++counter;
        } else {
            ++counter;
        }
    }
}

int wait()
{
    QWaitCondition condition;
    bool waiting = false, woken = false;
    int written = 0;
    std::thread other([&] {
        for (;;) {
            QMutexLocker locker(&lock);
            if (waiting) {
                written += 1; // the first thread's value, read and changed
                woken = true;
                condition.wakeOne();
                return;
            }
        }
    });
    int seen;
    {
        QMutexLocker locker(&lock);
        written = 41;
        waiting = true;
        while (!woken)
            condition.wait(&lock);
        seen = written;
    }
    other.join();
    return seen == 42 ? 0 : 1;
}

int post()
{
    QObject receiver;
    auto postAndCount = [&] {
        for (int i = 0; i < 1000; ++i) {
            QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
            ++counter;
        }
    };
    std::thread other(postAndCount);
    postAndCount();
    other.join();
    QCoreApplication::removePostedEvents(&receiver);
    return counter > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "waiting") == 0)
        return wait();
    if (argc > 1 && std::strcmp(argv[1], "posting") == 0)
        return post();
    const bool guarded = argc > 1 && std::strcmp(argv[1], "guarded") == 0;
    std::thread other(count, guarded);
    count(guarded);
    other.join();
    return counter > 0 ? 0 : 1;
}
