#include "async_result.h"

#include "com_impl.h"
#include "mfapi.h"

namespace {
PLAT_GUID(IID_IPlatAsyncResult, 0x8d4c2e61, 0x9a3b, 0x4f70, 0xb1, 0x5e, 0x27, 0x6c, 0x90, 0x4a, 0xd3, 0x18);

class AsyncResult final : public IMFAsyncResult {
    PLAT_REFCOUNT(AsyncResult)
    AsyncResult(IUnknown* object, IMFAsyncCallback* callback, IUnknown* state)
        : m_object(object), m_callback(callback), m_state(state) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv && IsEqualIID(riid, IID_IPlatAsyncResult)) {
            AddRef();
            *ppv = this;
            return S_OK;
        }
        static const QITAB table[] = {QITABENT(AsyncResult, IMFAsyncResult), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetState(IUnknown** state) override {
        if (!state) return E_POINTER;
        *state = m_state.Get();
        if (!*state) return E_POINTER;
        (*state)->AddRef();
        return S_OK;
    }
    HRESULT GetStatus() override { return m_status.load(); }
    HRESULT SetStatus(HRESULT status) override {
        m_status = status;
        return S_OK;
    }
    HRESULT GetObject(IUnknown** object) override {
        if (!object) return E_POINTER;
        *object = m_object.Get();
        if (!*object) return E_POINTER;
        (*object)->AddRef();
        return S_OK;
    }
    IUnknown* GetStateNoAddRef() override { return m_state.Get(); }
    IMFAsyncCallback* Callback() const { return m_callback.Get(); }

private:
    virtual ~AsyncResult() = default;
    PlatRef<IUnknown> m_object;
    PlatRef<IMFAsyncCallback> m_callback;
    PlatRef<IUnknown> m_state;
    std::atomic<HRESULT> m_status{S_OK};
};
} // namespace

IMFAsyncCallback* PlatAsyncResultCallback(IMFAsyncResult* result) {
    AsyncResult* ours = nullptr;
    if (!result || FAILED(result->QueryInterface(IID_IPlatAsyncResult, reinterpret_cast<void**>(&ours))))
        return nullptr;
    IMFAsyncCallback* cb = ours->Callback();
    ours->Release();
    return cb;
}

void PlatInvokeNow(IMFAsyncResult* result) {
    if (IMFAsyncCallback* cb = PlatAsyncResultCallback(result)) cb->Invoke(result);
}

extern "C" HRESULT MFCreateAsyncResult(IUnknown* object, IMFAsyncCallback* callback, IUnknown* state,
                                       IMFAsyncResult** result) {
    return PlatCreate<AsyncResult>(result, object, callback, state);
}

extern "C" HRESULT MFInvokeCallback(IMFAsyncResult* result) {
    if (!result) return E_POINTER;
    if (!PlatAsyncResultCallback(result)) return E_INVALIDARG;
    return PlatQueueResult(result);
}

extern "C" HRESULT MFPutWorkItem(DWORD, IMFAsyncCallback* callback, IUnknown* state) {
    if (!callback) return E_POINTER;
    IMFAsyncResult* result = nullptr;
    HRESULT hr = MFCreateAsyncResult(nullptr, callback, state, &result);
    if (FAILED(hr)) return hr;
    hr = PlatQueueResultAdopt(result); // the poster keeps no reference: see PlatQueueResultAdopt
    if (FAILED(hr)) result->Release();
    return hr;
}
