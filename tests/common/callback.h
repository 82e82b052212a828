// A host-side IMFAsyncCallback for tests: runs a function on each Invoke.
#pragma once
#include <functional>

#include "platform/com_impl.h"
#include "platform/platform.h"

class TestCallback final : public IMFAsyncCallback {
    PLAT_REFCOUNT(TestCallback)
    explicit TestCallback(std::function<void(IMFAsyncResult*)> fn) : m_fn(std::move(fn)) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(TestCallback, IMFAsyncCallback), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Invoke(IMFAsyncResult* result) override {
        m_fn(result);
        return S_OK;
    }

private:
    virtual ~TestCallback() = default;
    std::function<void(IMFAsyncResult*)> m_fn;
};

// MFStartup for the life of a test.
struct MFScope {
    MFScope() { MFStartup(MF_VERSION, MFSTARTUP_FULL); }
    ~MFScope() { MFShutdown(); }
};
