// Helpers for the platform's own COM objects: a reference count and nothrow allocation.
#pragma once
#include <atomic>
#include <new>

#include "platform/alloc_fault.h"
#ifdef _WIN32
#include "platform/windows/sdk.h"
#else
#include "com.h"
#endif

// Reference counting for a class whose last Release deletes it (virtual destructor expected).
#define PLAT_REFCOUNT(Cls)                                                                                  \
    std::atomic<ULONG> m_cRef{1};                                                                           \
                                                                                                             \
public:                                                                                                      \
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }                                              \
    STDMETHODIMP_(ULONG) Release() override {                                                                \
        ULONG n = --m_cRef;                                                                                 \
        if (n == 0) delete this;                                                                            \
        return n;                                                                                           \
    }

// Hands out a new object through an interface out-pointer, or E_OUTOFMEMORY.
template <class Obj, class Iface, class... Args> HRESULT PlatCreate(Iface** out, Args&&... args) {
    if (!out) return E_POINTER;
    Obj* obj = PlatSystemAllocationRefused() ? nullptr : new (std::nothrow) Obj(std::forward<Args>(args)...);
    *out = obj;
    return obj ? S_OK : E_OUTOFMEMORY;
}

// A counted reference that releases itself; the platform's own smart pointer.
template <class T> class PlatRef {
public:
    PlatRef() = default;
    PlatRef(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    PlatRef(const PlatRef& o) : PlatRef(o.m_p) {}
    PlatRef& operator=(const PlatRef& o) { Reset(o.m_p); return *this; }
    ~PlatRef() { Reset(nullptr); }
    void Reset(T* p) {
        if (p) p->AddRef();
        if (m_p) m_p->Release();
        m_p = p;
    }
    void Attach(T* p) { Reset(nullptr); m_p = p; }
    T* Detach() { T* p = m_p; m_p = nullptr; return p; }
    T** operator&() { Reset(nullptr); return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};
