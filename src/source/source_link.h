// The media streams' way to their source: a shared link that the source clears when it dies. A stream
// never holds a counted reference on its source, so the source dies with its host's last reference,
// whether or not Shutdown was called; a stream outliving it finds the link empty.
#pragma once
#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "support/alloc.h"

class OGGSource;

class SourceLink : public IUnknown, public CNoThrowAlloc {
public:
    explicit SourceLink(OGGSource* source) : m_pSource(source) {}
    virtual ~SourceLink() = default;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        long n = --m_cRef;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    // The source with a reference added, or null when it is gone or going.
    OGGSource* Acquire();
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        m_pSource = nullptr;
    }

private:
    std::mutex m_lock;
    OGGSource* m_pSource;
    std::atomic<long> m_cRef{1};
};
