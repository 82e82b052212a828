// An open on a thread of its own: BeginCreateObject returns at once, and the host's callback hears when the source
// is open (a server may take its time; no host thread or work-queue thread waits for it). The job is the cancel
// cookie the host holds.
#pragma once
#include <atomic>
#include <mutex>

#include "base_object.h"
#include "support/am_thread.h"

class COpenJob final : private MediaFoundationSamples::BaseObject, public IUnknown, private CAMThread {
public:
    // Starts the open of `stream`; *cookie (optional) is what Cancel takes.
    static HRESULT Start(IMFByteStream* stream, IMFAsyncCallback* callback, IUnknown* state, IUnknown** cookie);
    // Cancels the open the cookie stands for: its byte stream is closed (a read that waits for a server ends at
    // once) and the callback gets MF_E_OPERATION_CANCELLED. S_OK also when the open had finished; E_INVALIDARG for
    // a cookie that is no open of this module's.
    static HRESULT Cancel(IUnknown* cookie);
    // The source an open made, from the object of the result its callback was given; E_INVALIDARG for an object
    // that is no open of this module's, the open's failure otherwise.
    static HRESULT SourceOf(IUnknown* object, IMFMediaSource** source);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

private:
    COpenJob(IMFByteStream* stream, IMFAsyncCallback* callback);
    ~COpenJob() override;
    DWORD WorkerMain() override;
    HRESULT Open(IMFMediaSource** source);
    void CancelOpen();

    std::atomic<ULONG> m_cRef{1};
    std::atomic<bool> m_cancelled{false};
    std::mutex m_lock;       // m_pStream between the worker, which lets it go, and a cancel, which closes it
    IMFByteStream* m_pStream; // until the callback has been posted
    // Made with the job, before the open starts: an open that ends always has a result to post, even when memory
    // has run out by then. It holds the job (its object), which holds the source made; the job lets it go once
    // posted.
    IMFAsyncResult* m_pResult = nullptr;
    IMFMediaSource* m_pSource = nullptr;
    IMFAsyncCallback* m_pCallback; // for a callback that no work queue can take; let go once posted
};
