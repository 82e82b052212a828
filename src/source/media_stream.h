// The IMFMediaStream of one logical stream: matches delivered samples with requests, keeps a small
// reserve by asking the source for data, and signals the end of the stream.
#pragma once
#include <atomic>
#include <mutex>

#include "base_object.h"
#include "list.h"
#include "ogg/sample_sink.h"
#include "source_link.h"

class COggStream;

class OGGStream final : private MediaFoundationSamples::BaseObject,
                        public IMFMediaStream,
                        public IOggSampleSink,
                        public CNoThrowAlloc {
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
    HRESULT NoteFormat(const CAMMediaType& type) override;

    // Transitions carried out by the source.
    void SetActive(BOOL active);
    // newRun: the start begins a run (from stopped, or a restart at a position); what was made for the
    // run before is dropped. A resume from pause keeps it.
    HRESULT StartStream(const PROPVARIANT* value, bool seeking, bool newRun, DWORD runId);
    HRESULT PauseStream();
    HRESULT StopStream();
    void ShutdownStream();
    HRESULT DeliverQueuedSamples();

    bool EndSent() const { return m_eosSent; }
    BOOL m_active = FALSE;
    BOOL m_endOfStream = FALSE;
    int32_t m_state = 0;
    DWORD m_id;
    COggStream* m_pOggStream = nullptr;
    // Its OpRequestData of this run runs (under the source lock): another may be posted.
    void RequestTaken() { m_requestQueued = false; }
    DWORD m_runId = 0; // the run the stream is in; stamped into its requests for data and its end

private:
    class SourceGuard;
    ~OGGStream();
    void ReportError(HRESULT hr);
    HRESULT MatchOne();
    HRESULT AnnounceFormat(IMFSample* sample);
    IMFMediaEventQueue* EventQueue();
    void DropSamples();

    std::atomic<ULONG> m_refCount{1};
    SourceLink* m_pLink;
    IMFStreamDescriptor* m_pStreamDescriptor;
    IMFMediaEventQueue* m_pEventQueue = nullptr; // written under the source lock and m_queueLock both
    std::mutex m_queueLock;
    ComPtrList<IMFSample> m_samples;
    ComPtrList<IUnknown, true> m_requests;
    std::recursive_mutex m_orphanLock; // serialises the stream's methods once its source is gone
    bool m_eosSent = false;       // MEEndOfStream goes out once per run, however often the end is marked
    bool m_requestQueued = false; // an OpRequestData of this run waits in the queue
    uint64_t m_queuedBytes = 0;   // the payload of the samples waiting
    // A chained file's formats: the type the host was told last (null: the stream descriptor's), the one it will
    // have been told once the waiting samples are out, and the one the next delivered sample carries.
    IMFMediaType* m_pAnnounced = nullptr;
    IMFMediaType* m_pExpected = nullptr;
    IMFMediaType* m_pPendingFormat = nullptr;
};
