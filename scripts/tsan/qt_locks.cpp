// Preloaded into the thread-checked tests: tells ThreadSanitizer about QMutex. Qt's own library
// is not instrumented, so a lock taken or given back inside it is invisible and every access
// guarded by a QMutex would be reported. Each entry point below runs Qt's own and marks the
// mutex acquired after a lock and released before an unlock.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
}

namespace {

// Qt's definition of a mangled entry point.
template <typename F>
F real(const char* name)
{
    void* p = dlvsym(RTLD_NEXT, name, "Qt_5");
    if (!p)
        p = dlsym(RTLD_NEXT, name);
    if (!p) {
        std::fprintf(stderr, "qt_locks: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

} // namespace

// Declared here as Qt exports them; only their addresses matter to the annotations.
class QBasicMutex {
public:
    void lockInternal();
    bool lockInternal(int timeout);
    void unlockInternal();
};

class QMutex : public QBasicMutex {
public:
    void lock();
    bool tryLock(int timeout);
    void unlock();
};

void QBasicMutex::lockInternal()
{
    static const auto f = real<void (*)(QBasicMutex*)>("_ZN11QBasicMutex12lockInternalEv");
    f(this);
    __tsan_acquire(this);
}

bool QBasicMutex::lockInternal(int timeout)
{
    static const auto f = real<bool (*)(QBasicMutex*, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal()
{
    static const auto f = real<void (*)(QBasicMutex*)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(this);
    f(this);
}

void QMutex::lock()
{
    static const auto f = real<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    f(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout)
{
    static const auto f = real<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = f(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock()
{
    static const auto f = real<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    f(this);
}
