// The IMFMediaStream of one logical stream: matches the samples production delivers with the host's requests,
// keeps a reserve by asking for production, and ends the stream in answer to a request that finds no more data.
// It has a lock of its own: nothing a host calls on it waits for the source's dispatch or for production.
#pragma once
#include <atomic>
#include <mutex>

#include "base_object.h"
#include "list.h"
#include "ogg/demux_sink.h"
#include "source_link.h"
#include "support/am_media_type.h"
#include "support/lock.h"

class OGGStream final : private MediaFoundationSamples::BaseObject, public IMFMediaStream, public CNoThrowAlloc {
public:
    // index: the core's stream it plays.
    OGGStream(SourceLink* link, IMFStreamDescriptor* sd, DWORD id, int32_t index, HRESULT* phr);

    // IUnknown, IMFMediaEventGenerator, IMFMediaStream
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) override;
    STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
    STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** sd) override;
    STDMETHODIMP RequestSample(IUnknown* token) override;

    // Transitions, carried out by the source's dispatch.
    void SetActive(bool active);
    // The stream enters run `run` (a new run, or one it joins on a resume): what was made for the run before is
    // dropped, and what production makes for the new one waits until the stream is started in it.
    void PrepareRun(DWORD run);
    // A resume keeps what was made (a stream that ended in the run stays ended).
    HRESULT StartStream(const PROPVARIANT* value, bool seeking);
    HRESULT PauseStream();
    HRESULT StopStream();
    void ShutdownStream();

    // Production's side: samples of run `run` (S_FALSE: not taken, the run is over or the stream ended). *full:
    // the samples waiting now fill the reserve (production stops).
    HRESULT DeliverSamples(IMFSample* const* samples, int count, DWORD run, bool* full);
    // The type of the samples that follow (a chained file's link); the next sample announces it when it differs
    // from the type the host was told last.
    HRESULT NoteFormat(const CAMMediaType& type);
    // No more samples in run `run`: the end goes out in answer to a request that finds none left.
    HRESULT MarkEnded(DWORD run);
    // A broadcast's stream has nothing at `time` while others play: MEStreamTick, when it is started and no sample
    // waits; its next sample is a discontinuity.
    HRESULT Tick(DWORD run, LONGLONG time);

    // Whether the host takes this stream's samples (the reserve's room, a request that waits).
    IOggDemuxSink::Consumer ConsumerState();
    int32_t Index() const { return m_index; }
    DWORD Id() const { return m_id; }
    bool Active();
    bool EndSent();
    // Where the host is in this stream: the time of the next sample it gets (of the last one, with none waiting).
    LONGLONG Position() const { return m_position.load(); }

private:
    ~OGGStream() override;
    IMFMediaEventQueue* EventQueue();
    HRESULT Match();
    HRESULT MatchOne();
    HRESULT SendEnd();
    HRESULT AnnounceFormat(IMFSample* sample);
    void DropSamples();
    bool WantsProduction() const;
    void AskForProduction();

    std::atomic<ULONG> m_refCount{1};
    SourceLink* m_pLink;
    const DWORD m_id;
    const int32_t m_index;
    CLock m_lock; // everything below but the event queue
    int32_t m_state = 0; // SourceStopped, SourcePaused, SourceStarted, SourceShutdown
    bool m_active = false;
    DWORD m_run = 0;
    bool m_ended = false;   // production found no more in this run
    bool m_eosSent = false; // MEEndOfStream went out in this run
    bool m_asked = false;   // production was asked for more and has delivered nothing since
    bool m_starting = false; // in a run that has not started yet: samples wait
    bool m_ticked = false;   // a tick went out: the next sample delivered is marked a discontinuity
    IMFStreamDescriptor* m_pStreamDescriptor;
    ComPtrList<IMFSample> m_samples;
    ComPtrList<IUnknown, true> m_requests;
    uint64_t m_queuedBytes = 0; // the payload of the samples waiting
    std::atomic<LONGLONG> m_position{0};
    // A chained file's formats: the type the host was told last (null: the stream descriptor's), the one it will
    // have been told once the waiting samples are out, and the one the next delivered sample carries.
    IMFMediaType* m_pAnnounced = nullptr;
    IMFMediaType* m_pExpected = nullptr;
    IMFMediaType* m_pPendingFormat = nullptr;
    std::mutex m_queueLock; // the event queue pointer alone: the event methods never wait for m_lock
    IMFMediaEventQueue* m_pEventQueue = nullptr;
};
