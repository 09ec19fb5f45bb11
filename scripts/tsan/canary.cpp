// Checks the thread pass itself. Two threads count in one variable: "race" unguarded, which must
// be reported; "guarded" under a QMutex, which must not be once Qt's locks are made visible.
#include <QMutex>
#include <QMutexLocker>

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

} // namespace

int main(int argc, char** argv)
{
    const bool guarded = argc > 1 && std::strcmp(argv[1], "guarded") == 0;
    std::thread other(count, guarded);
    count(guarded);
    other.join();
    return counter > 0 ? 0 : 1;
}
