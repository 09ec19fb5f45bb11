// Preloaded into the thread-checked tests: tells ThreadSanitizer how Qt orders its threads.
// Qt's own library is not instrumented, so a lock taken or given back inside it is invisible and
// every access guarded by a QMutex would be reported. Each entry point below runs Qt's own and
// marks the mutex acquired after a lock and released before an unlock; a wait on a condition
// gives the mutex back while it waits and takes it again before it returns, so it is marked
// released before and acquired after. Qt queues an event for another thread's objects in that
// thread's queue, under a lock of its own that stays invisible: while it does (posting an event,
// a call queued to run there, a deletion for later, waking a thread to quit) its own accesses are
// not watched. A QThread's end reaches QThread::wait through Qt's own lock too; its last visible
// step is waking the waiters on its end (a condition broadcast), so every broadcast is marked
// released, and a wait for a thread that saw it end, or the destruction of a condition or a mutex
// (only ever done once every thread is through with it), acquired. A thread's event loop is
// woken through a descriptor the thread made, which Qt hands to others through its own atomics:
// making one is marked released and each write to it acquired.
//
// The sanitizer's entry points are resolved weakly: in a process without the sanitizer (a helper
// process the tests start, such as the page engine's) they are absent and nothing is marked.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

extern "C" {
void __tsan_acquire(void* addr) __attribute__((weak));
void __tsan_release(void* addr) __attribute__((weak));
void AnnotateIgnoreReadsBegin(const char* file, int line) __attribute__((weak));
void AnnotateIgnoreReadsEnd(const char* file, int line) __attribute__((weak));
void AnnotateIgnoreWritesBegin(const char* file, int line) __attribute__((weak));
void AnnotateIgnoreWritesEnd(const char* file, int line) __attribute__((weak));
}

namespace {

void acquired(void* addr)
{
    if (__tsan_acquire)
        __tsan_acquire(addr);
}

void released(void* addr)
{
    if (__tsan_release)
        __tsan_release(addr);
}

// Accesses of the current thread are not watched while one lives.
class Unwatched {
public:
    Unwatched()
    {
        if (AnnotateIgnoreReadsBegin && AnnotateIgnoreWritesBegin) {
            AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
            AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
        }
    }
    ~Unwatched()
    {
        if (AnnotateIgnoreReadsEnd && AnnotateIgnoreWritesEnd) {
            AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
            AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
        }
    }
};

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

// Qt's QDeadlineTimer has this layout and is passed by value (it is trivially copyable).
class QDeadlineTimer {
    long long t1;
    unsigned t2;
    int type;
};
static_assert(sizeof(QDeadlineTimer) == 16, "QDeadlineTimer is two words");

class QEvent;
namespace QtPrivate {
class QSlotObjectBase;
}
namespace Qt {
enum ConnectionType { AutoConnection, DirectConnection, QueuedConnection, BlockingQueuedConnection };
}

class QObject {
public:
    void deleteLater();
};

class QCoreApplication {
public:
    static void postEvent(QObject* receiver, QEvent* event, int priority);
};

struct QMetaObject {
    static bool invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                 void* ret);
};

class QThread {
public:
    void exit(int code);
    void quit();
    bool wait(QDeadlineTimer deadline);
    bool wait(unsigned long time);
};

class QWaitCondition {
public:
    bool wait(QMutex* lockedMutex, QDeadlineTimer deadline);
    bool wait(QMutex* lockedMutex, unsigned long time);
};

void QBasicMutex::lockInternal()
{
    static const auto f = real<void (*)(QBasicMutex*)>("_ZN11QBasicMutex12lockInternalEv");
    f(this);
    acquired(this);
}

bool QBasicMutex::lockInternal(int timeout)
{
    static const auto f = real<bool (*)(QBasicMutex*, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquired(this);
    return locked;
}

void QBasicMutex::unlockInternal()
{
    static const auto f = real<void (*)(QBasicMutex*)>("_ZN11QBasicMutex14unlockInternalEv");
    released(this);
    f(this);
}

void QMutex::lock()
{
    static const auto f = real<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    f(this);
    acquired(this);
}

bool QMutex::tryLock(int timeout)
{
    static const auto f = real<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = f(this, timeout);
    if (locked)
        acquired(this);
    return locked;
}

void QMutex::unlock()
{
    static const auto f = real<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    released(this);
    f(this);
}

#ifndef TM_QT_LOCKS_WITHOUT_WAIT // the canary's check that the wait needs marking
bool QWaitCondition::wait(QMutex* lockedMutex, QDeadlineTimer deadline)
{
    static const auto f =
        real<bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer)>("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    released(lockedMutex);
    const bool woken = f(this, lockedMutex, deadline);
    acquired(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QMutex* lockedMutex, unsigned long time)
{
    static const auto f = real<bool (*)(QWaitCondition*, QMutex*, unsigned long)>("_ZN14QWaitCondition4waitEP6QMutexm");
    released(lockedMutex);
    const bool woken = f(this, lockedMutex, time);
    acquired(lockedMutex);
    return woken;
}
#endif

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority)
{
    static const auto f = real<void (*)(QObject*, QEvent*, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    Unwatched queueing;
    f(receiver, event, priority);
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret)
{
    static const auto f = real<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    // Only a queued call is queueing alone; any other may run the call right here.
    if (type != Qt::QueuedConnection)
        return f(object, slot, type, ret);
    Unwatched queueing;
    return f(object, slot, type, ret);
}

void QObject::deleteLater()
{
    static const auto f = real<void (*)(QObject*)>("_ZN7QObject11deleteLaterEv");
    Unwatched queueing;
    f(this);
}

void QThread::exit(int code)
{
    static const auto f = real<void (*)(QThread*, int)>("_ZN7QThread4exitEi");
    Unwatched queueing;
    f(this, code);
}

void QThread::quit()
{
    static const auto f = real<void (*)(QThread*)>("_ZN7QThread4quitEv");
    Unwatched queueing;
    f(this);
}

namespace {

// Where every condition broadcast is released and every wait for a thread's end acquired.
char g_threadEnds;

} // namespace

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto f = real<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = f(this, deadline);
    if (ended)
        acquired(&g_threadEnds);
    return ended;
}

bool QThread::wait(unsigned long time)
{
    static const auto f = real<bool (*)(QThread*, unsigned long)>("_ZN7QThread4waitEm");
    const bool ended = f(this, time);
    if (ended)
        acquired(&g_threadEnds);
    return ended;
}

// ---- the C library's entry points, resolved once when the library is loaded: they are also
// called while the sanitizer reports, where nothing may be resolved any more.

namespace {

int (*g_condBroadcast)(pthread_cond_t*);
int (*g_condDestroy)(pthread_cond_t*);
int (*g_mutexDestroy)(pthread_mutex_t*);
int (*g_eventfd)(unsigned int, int);
ssize_t (*g_write)(int, const void*, size_t);

// The wake-up descriptors made so far (a descriptor number used again stays marked: an extra
// acquire only orders more), and where each was marked released.
const int kDescriptors = 4096;
std::atomic<bool> g_wakeups[kDescriptors];
char g_wakeupMade[kDescriptors];

template <typename F>
void resolve(F* f, const char* name)
{
    *f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    if (!*f) {
        std::fprintf(stderr, "qt_locks: %s not found\n", name);
        std::abort();
    }
}

__attribute__((constructor)) void resolveLibraryCalls()
{
    resolve(&g_condBroadcast, "pthread_cond_broadcast");
    resolve(&g_condDestroy, "pthread_cond_destroy");
    resolve(&g_mutexDestroy, "pthread_mutex_destroy");
    resolve(&g_eventfd, "eventfd");
    resolve(&g_write, "write");
}

} // namespace

extern "C" int pthread_cond_broadcast(pthread_cond_t* cond)
{
    // After it: the waiter on a thread's end goes on only once the broadcast is done.
    const int result = g_condBroadcast(cond);
    released(&g_threadEnds);
    return result;
}

extern "C" int pthread_cond_destroy(pthread_cond_t* cond)
{
    acquired(&g_threadEnds);
    return g_condDestroy(cond);
}

extern "C" int pthread_mutex_destroy(pthread_mutex_t* mutex)
{
    acquired(mutex);
    return g_mutexDestroy(mutex);
}

extern "C" int eventfd(unsigned int initval, int flags)
{
    const int fd = g_eventfd(initval, flags);
    if (fd >= 0 && fd < kDescriptors) {
        released(&g_wakeupMade[fd]);
        g_wakeups[fd] = true;
    }
    return fd;
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count)
{
    if (fd >= 0 && fd < kDescriptors && g_wakeups[fd])
        acquired(&g_wakeupMade[fd]);
    return g_write(fd, buffer, count);
}
