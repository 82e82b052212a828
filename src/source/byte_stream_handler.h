// The byte-stream handler: builds a source over a byte stream, opens it on a thread of its own and hands it back
// through the asynchronous begin/end pair. The source travels in the result itself, so that any number of
// creations may be in flight on one handler; each one's cookie cancels it.
#pragma once
#include <atomic>

#include "base_object.h"
#include "support/alloc.h"

class OGGSource;

class OGGByteStreamHandler : private MediaFoundationSamples::BaseObject,
                             public IMFByteStreamHandler,
                             public CNoThrowAlloc {
public:
    // The class factory's creation function.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP BeginCreateObject(IMFByteStream* stream, LPCWSTR url, DWORD flags, IPropertyStore* props,
                              IUnknown** cancelCookie, IMFAsyncCallback* callback, IUnknown* state) override;
    STDMETHODIMP EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) override;
    STDMETHODIMP CancelObjectCreation(IUnknown* cookie) override;
    STDMETHODIMP GetMaxNumberOfBytesRequiredForResolution(QWORD*) override { return E_NOTIMPL; }

private:
    OGGByteStreamHandler() = default;
    ~OGGByteStreamHandler() override;

    std::atomic<ULONG> m_refCount{1};
};
