// Locks of the runtime. base::Lock behaves like a critical section: the owning thread may
// acquire it again (recursive).
#pragma once

#include <mutex>

namespace base {

class Lock {
public:
    Lock() = default;
    void Acquire() { m_.lock(); }
    void Release() { m_.unlock(); }
    bool Try() { return m_.try_lock(); }
    void AssertAcquired() const {}

private:
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    std::recursive_mutex m_;
};

class AutoLock {
public:
    explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
    ~AutoLock() { lock_.Release(); }

private:
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;
    Lock& lock_;
};

class AutoUnlock {
public:
    explicit AutoUnlock(Lock& lock) : lock_(lock) { lock_.Release(); }
    ~AutoUnlock() { lock_.Acquire(); }

private:
    AutoUnlock(const AutoUnlock&) = delete;
    AutoUnlock& operator=(const AutoUnlock&) = delete;
    Lock& lock_;
};

} // namespace base
