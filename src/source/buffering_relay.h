// A network byte stream's buffering, told to the host: a byte stream that offers IMFByteStreamBuffering says
// through its own event generator when a read waits for the network (MEBufferingStarted) and when the read has
// its data (MEBufferingStopped). The relay asks for those events and the source passes them on while it runs.
#pragma once
#include <atomic>
#include <mutex>

#include "base_object.h"
#include "source_link.h"

class CBufferingRelay final : private MediaFoundationSamples::BaseObject, public IMFAsyncCallback, public CNoThrowAlloc {
public:
    // Starts relaying when `stream` offers buffering and events (*out stays null otherwise, with S_OK).
    static HRESULT Start(IMFByteStream* stream, SourceLink* link, CBufferingRelay** out);
    // No more events are asked for, and the byte stream is let go (the event it may still hold dies with it).
    void Stop();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* result) override;

private:
    CBufferingRelay(IMFMediaEventGenerator* events, IMFByteStreamBuffering* buffering, SourceLink* link);
    ~CBufferingRelay() override;
    // The generator, with a reference added, or null once stopped.
    IMFMediaEventGenerator* Events();

    std::atomic<ULONG> m_cRef{1};
    std::mutex m_lock; // m_pEvents between an event's arrival and a stop
    IMFMediaEventGenerator* m_pEvents;
    IMFByteStreamBuffering* m_pBuffering;
    SourceLink* m_pLink;
};
