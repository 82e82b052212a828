// The IMFMediaStream of one logical stream: matches delivered samples with requests, keeps a small
// reserve by asking the source for data, and signals the end of the stream.
#pragma once
#include <atomic>
#include <mutex>

#include "list.h"
#include "ogg/sample_sink.h"
#include "source_link.h"

class COggStream;

class OGGStream final : public IMFMediaStream, public IOggSampleSink, public CNoThrowAlloc {
public:
    OGGStream(SourceLink* link, IMFStreamDescriptor* sd, DWORD id, HRESULT* phr);

    // IUnknown, IMFMediaEventGenerator, IMFMediaStream
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) override;
    HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    HRESULT QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) override;
    HRESULT GetMediaSource(IMFMediaSource** source) override;
    HRESULT GetStreamDescriptor(IMFStreamDescriptor** sd) override;
    HRESULT RequestSample(IUnknown* token) override;

    // IOggSampleSink
    HRESULT DeliverSample(IMFSample* sample) override;
    HRESULT MarkEndOfStream() override;
    bool WantsMoreSamples() override;
    bool IsActive() override;
    void WaitOutLock() override;

    // Transitions carried out by the source.
    void SetActive(BOOL active);
    HRESULT StartStream(const PROPVARIANT* value, bool seeking);
    HRESULT PauseStream();
    HRESULT StopStream();
    void ShutdownStream();
    HRESULT DeliverQueuedSamples();

    BOOL m_active = FALSE;
    BOOL m_endOfStream = FALSE;
    int32_t m_state = 0;
    DWORD m_id;
    COggStream* m_pOggStream = nullptr;
    void RequestTaken() { m_requestQueued = false; } // its OpRequestData runs (under the source lock)

private:
    class SourceGuard;
    ~OGGStream();
    void ReportError(HRESULT hr);
    HRESULT MatchOne();

    std::atomic<ULONG> m_refCount{1};
    SourceLink* m_pLink;
    IMFStreamDescriptor* m_pStreamDescriptor;
    IMFMediaEventQueue* m_pEventQueue = nullptr;
    ComPtrList<IMFSample> m_samples;
    ComPtrList<IUnknown, true> m_requests;
    std::recursive_mutex m_orphanLock; // serialises the stream's methods once its source is gone
    bool m_eosSent = false;
    bool m_requestQueued = false; // an OpRequestData for this stream waits in the queue // MEEndOfStream goes out once per run, however often the end is marked
};
