// Intrusive reference-counted pointer: CefRefPtr<T> adds a reference on construction from a
// raw pointer and releases it on destruction; the object deletes itself at zero.
#pragma once

#include <cstddef>
#include <utility>

template <class T>
class CefRefPtr {
public:
    typedef T element_type;

    CefRefPtr() : ptr_(nullptr) {}
    CefRefPtr(T* p) : ptr_(p)
    {
        if (ptr_)
            ptr_->AddRef();
    }
    CefRefPtr(const CefRefPtr<T>& r) : ptr_(r.ptr_)
    {
        if (ptr_)
            ptr_->AddRef();
    }
    CefRefPtr(CefRefPtr<T>&& r) noexcept : ptr_(r.ptr_) { r.ptr_ = nullptr; }
    template <typename U>
    CefRefPtr(const CefRefPtr<U>& r) : ptr_(r.get())
    {
        if (ptr_)
            ptr_->AddRef();
    }
    ~CefRefPtr()
    {
        if (ptr_)
            ptr_->Release();
    }

    T* get() const { return ptr_; }
    operator T*() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }

    CefRefPtr<T>& operator=(T* p)
    {
        if (p)
            p->AddRef();
        T* old = ptr_;
        ptr_ = p;
        if (old)
            old->Release();
        return *this;
    }
    CefRefPtr<T>& operator=(const CefRefPtr<T>& r) { return *this = r.ptr_; }
    CefRefPtr<T>& operator=(CefRefPtr<T>&& r) noexcept
    {
        if (this != &r) {
            T* old = ptr_;
            ptr_ = r.ptr_;
            r.ptr_ = nullptr;
            if (old)
                old->Release();
        }
        return *this;
    }
    template <typename U>
    CefRefPtr<T>& operator=(const CefRefPtr<U>& r)
    {
        return *this = r.get();
    }

    void swap(T** pp)
    {
        T* p = ptr_;
        ptr_ = *pp;
        *pp = p;
    }
    void swap(CefRefPtr<T>& r) { swap(&r.ptr_); }

private:
    T* ptr_;
};
