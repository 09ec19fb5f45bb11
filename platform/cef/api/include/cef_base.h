// Reference-counted base of every runtime object, and the helpers that implement it.
#pragma once

#include "include/base/cef_lock.h"
#include "include/internal/cef_ptr.h"
#include "include/internal/cef_string.h"
#include "include/internal/cef_types.h"
#include "include/internal/cef_types_wrappers.h"

#include <atomic>

// AddRef/Release may be called on any thread. Release answers true when it deleted the object.
class CefBase {
public:
    virtual void AddRef() const = 0;
    virtual bool Release() const = 0;
    virtual bool HasOneRef() const = 0;

protected:
    virtual ~CefBase() {}
};

// Thread-safe reference count used by IMPLEMENT_REFCOUNTING.
class CefRefCount {
public:
    CefRefCount() : count_(0) {}
    void AddRef() const { count_.fetch_add(1, std::memory_order_relaxed); }
    // True when the count dropped to zero.
    bool Release() const { return count_.fetch_sub(1, std::memory_order_acq_rel) == 1; }
    bool HasOneRef() const { return count_.load(std::memory_order_acquire) == 1; }

private:
    mutable std::atomic<int> count_;
};

#define IMPLEMENT_REFCOUNTING(ClassName)                                                           \
public:                                                                                            \
    void AddRef() const override { ref_count_.AddRef(); }                                          \
    bool Release() const override                                                                  \
    {                                                                                              \
        if (ref_count_.Release()) {                                                                \
            delete static_cast<const ClassName*>(this);                                            \
            return true;                                                                           \
        }                                                                                          \
        return false;                                                                              \
    }                                                                                              \
    bool HasOneRef() const override { return ref_count_.HasOneRef(); }                             \
                                                                                                   \
private:                                                                                           \
    CefRefCount ref_count_

// Lock()/Unlock() on the object and AutoLock lock_scope(this) in its members.
#define IMPLEMENT_LOCKING(ClassName)                                                               \
public:                                                                                            \
    void Lock() const { lock_.Acquire(); }                                                         \
    void Unlock() const { lock_.Release(); }                                                       \
    base::Lock& GetLock() const { return lock_; }                                                  \
    class AutoLock {                                                                               \
    public:                                                                                        \
        explicit AutoLock(const ClassName* base) : base_(base) { base_->Lock(); }                  \
        ~AutoLock() { base_->Unlock(); }                                                           \
                                                                                                   \
    private:                                                                                       \
        AutoLock(const AutoLock&) = delete;                                                        \
        AutoLock& operator=(const AutoLock&) = delete;                                             \
        const ClassName* base_;                                                                    \
    };                                                                                             \
                                                                                                   \
private:                                                                                           \
    mutable base::Lock lock_
