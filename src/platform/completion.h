// A callback that waits for one asynchronous result: what a caller of a Begin/End pair blocks on.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "com_impl.h"
#include "mfobjects.h"

class PlatCompletion final : public IMFAsyncCallback {
    PLAT_REFCOUNT(PlatCompletion)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(PlatCompletion, IMFAsyncCallback), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Invoke(IMFAsyncResult* result) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_result.Reset(result);
        m_wake.notify_all();
        return S_OK;
    }
    // The result, once Invoke has run; an empty reference when timeoutMs passes first.
    PlatRef<IMFAsyncResult> Take(DWORD timeoutMs = INFINITE) {
        std::unique_lock<std::mutex> g(m_lock);
        auto arrived = [this] { return bool(m_result); };
        if (timeoutMs == INFINITE) m_wake.wait(g, arrived);
        else if (!m_wake.wait_for(g, std::chrono::milliseconds(timeoutMs), arrived)) return PlatRef<IMFAsyncResult>();
        PlatRef<IMFAsyncResult> r = m_result;
        m_result.Reset(nullptr); // the result holds this callback: not kept, or the two would hold each other
        return r;
    }

private:
    virtual ~PlatCompletion() = default;
    std::mutex m_lock;
    std::condition_variable m_wake;
    PlatRef<IMFAsyncResult> m_result;
};
