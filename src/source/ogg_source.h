// The media source: IMFMediaSource with its event generator, the rate interfaces and the operation queue,
// over the demultiplexing core it owns. Host calls take the source lock only briefly: the dispatch never
// holds it over a read or a wait (the core's reader reads, production runs on work items of its own).
#pragma once
#include "base_object.h"
#include "buffer_pool.h"
#include "buffering_relay.h"
#include "link_announcements.h"
#include "media_stream.h"
#include "media_summary.h"
#include "ogg/ogg_demuxer.h"
#include "op_queue.h"

enum SourceState : int32_t {
    SourceStopped = 0,
    SourcePaused = 1,
    SourceStarted = 2,
    SourceInvalid = 3,
    SourceOpening = 4,
    SourceShutdown = 5,
};

class CProductionItem;

class OGGSource : private MediaFoundationSamples::BaseObject,
                  public OpQueue<SourceOp>,
                  public IMFMediaSource,
                  public IMFRateControl,
                  public IMFRateSupport,
                  public IMFGetService,
                  public IOggDemuxSink,
                  public CNoThrowAlloc {
public:
    explicit OGGSource(HRESULT* phr);

    // Runs the open over the byte stream; called once, right after construction.
    HRESULT Initialize(IMFByteStream* stream);

    // IUnknown (and the sink's reference count, the same)
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // Adds a reference unless the count has already reached 0 (the source is being destroyed).
    bool TryAddRef();

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID ext, HRESULT status,
                            const PROPVARIANT* value) override;

    // IMFMediaSource
    STDMETHODIMP GetCharacteristics(DWORD* characteristics) override;
    STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** pd) override;
    STDMETHODIMP Start(IMFPresentationDescriptor* pd, const GUID* timeFormat,
                       const PROPVARIANT* start) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Shutdown() override;

    // IMFRateControl, IMFRateSupport, IMFGetService
    STDMETHODIMP SetRate(BOOL thin, float rate) override;
    STDMETHODIMP GetRate(BOOL* thin, float* rate) override;
    STDMETHODIMP GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) override;
    STDMETHODIMP GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) override;
    STDMETHODIMP IsRateSupported(BOOL thin, float rate, float* nearest) override;
    STDMETHODIMP GetService(REFGUID service, REFIID riid, LPVOID* ppv) override;

    // OpQueue
    HRESULT ExecuteOperation(SourceOp* op) override;
    HRESULT CheckOperation(SourceOp* op) override;

    // IOggDemuxSink: what production hands over (on its work item), and the reader's news.
    HRESULT DeliverPacket(int32_t stream, DWORD run, const OggSamplePacket& packet) override;
    void EndOfBatch(int32_t stream, DWORD run) override;
    void EndOfStream(int32_t stream, DWORD run, HRESULT cause) override;
    void DataReady(int32_t stream, DWORD run) override;
    Consumer ConsumerOf(int32_t stream) override;
    void LinkArrived(int32_t link, COggLiveLink* live) override;
    void StreamIdle(int32_t stream, DWORD run, LONGLONG time) override;
    // The byte stream's MEBufferingStarted or MEBufferingStopped: passed on while the source runs (a stop
    // always follows a start that was passed on).
    void RelayBuffering(MediaEventType type);

    // A media stream's end, stamped with the stream's run.
    HRESULT QueueStreamOperation(DWORD type, DWORD streamId, DWORD runId);
    // Production of the core's stream `index` goes on (on a work item). A work item that cannot be posted
    // fails the play (MEError): nothing else would make the samples the host waits for.
    bool ScheduleProduction(int32_t index);
    // A production work item: one stream's production of the current run.
    void Produce(int32_t index);

private:
    ~OGGSource() override;
    static DWORD Characteristics(const ByteSourceCaps& caps);
    HRESULT CreateMediaStreams();
    HRESULT CreateMediaStream(int32_t index);
    HRESULT BuildPresentationDescriptor();
    HRESULT DescribeLinks(IMFPresentationDescriptor* pd);
    void DescribeStreams();
    // The tag services (source_tags.cpp): the property store and the metadata provider.
    HRESULT TagService(REFGUID service, REFIID riid, void** ppv);
    void TellLink(int32_t link, COggLiveLink* live);
    OGGStream* FindMediaStream(DWORD id);
    OGGStream* MediaStreamOf(int32_t index);
    IMFMediaEventQueue* EventQueue();
    bool ShutDown() const { return m_state.load() == SourceShutdown; }

    // Dispatch
    bool Claim(SourceOp* op);
    void Unclaim(SourceOp* op);
    HRESULT DoStart(StartOp* op);
    HRESULT DoPause(SourceOp* op);
    HRESULT DoStop(SourceOp* op);
    HRESULT DoEndOfStream(SourceOp* op);
    template <class Fn> HRESULT ForEachStream(IMFPresentationDescriptor* pd, Fn fn);
    HRESULT SelectStreams(IMFPresentationDescriptor* pd, bool* joined, bool* left);
    HRESULT StartStreams(IMFPresentationDescriptor* pd, const PROPVARIANT* value, bool seek);
    HRESULT QueueStarted(bool seek, bool resuming, LONGLONG position);
    bool EverySelectedStreamEnded();
    HRESULT EndPresentation();
    HRESULT BeginRun(LONGLONG position);
    LONGLONG CurrentPosition();

    // Production
    HRESULT FlushBatch(int32_t index, DWORD run, bool* full);
    HRESULT MakeSample(int32_t index, const OggSamplePacket& packet, IMFSample** sample);

    std::atomic<ULONG> m_refCount{1};
    CLock m_lock; // the source lock: the public methods' checks and the dispatch
    std::atomic<int32_t> m_state{SourceInvalid};
    // What the state will be once the operations posted so far have run (a pause is refused from the call
    // unless the source will be started by then).
    int32_t m_requestedState = SourceStopped;
    std::mutex m_eventLock; // the event queue pointer alone
    IMFMediaEventQueue* m_pEventQueue = nullptr;
    IMFPresentationDescriptor* m_pPD = nullptr;
    // The core is a member, not a base: the source owns it, and it reaches the source only through the sink.
    COggDemuxer* m_pCore = nullptr;
    OGGStream* m_streams[MaxMediaStreams] = {};
    BYTE m_streamIds[MaxMediaStreams] = {};
    uint32_t m_cStreams = 0;
    // The media stream of each of the core's streams (null where it has none), and production's per-stream
    // state.
    struct Production {
        OGGStream* media = nullptr;
        CProductionItem* item = nullptr;
        CBufferPool* pool = nullptr;
        // Samples made and not yet handed to the media stream: at most kBatch of them, kBatchBytes in all.
        static constexpr int kBatch = 32;
        static constexpr uint64_t kBatchBytes = 256 << 10;
        IMFSample* batch[kBatch] = {};
        int count = 0;
        uint64_t bytes = 0;
    };
    Production* m_production = nullptr;
    int32_t m_cProduction = 0;
    // The end of the presentation went out in this run (once per run, when every selected stream has sent its
    // end).
    bool m_bPresentationEnded = false;
    SourceOp* m_pPendingOp = nullptr;
    // The run: counted up by every start that begins one (from stopped, or at a new position) and by every
    // stop.
    std::atomic<DWORD> m_runId{0};
    std::atomic<float> m_rate{1.0f};
    std::atomic<DWORD> m_failedRun{~DWORD(0)}; // the run whose failure the host was told of (once per run)
    LinkAnnouncements m_linksTold;             // the links of a chain the host was told of in the run
    // The link read once told last (held). Under m_tagLock, taken last of all locks: production tells a link
    // while it holds its stream's lock, which the dispatch takes under the source lock.
    COggLiveLink* m_pLiveTold = nullptr;
    std::mutex m_tagLock;
    IMFAttributes* m_pLinkAttributes = nullptr; // the presentation descriptor's, as the open left them
    MediaSummary m_linkSummary;                 // the presentation's format, as the open found it
    // What the byte stream allows, known once the open has asked it (MFMEDIASOURCE_* flags).
    std::atomic<DWORD> m_characteristics{MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE};
    bool Seekable() const { return (m_characteristics.load() & MFMEDIASOURCE_CAN_SEEK) != 0; }
    bool Live() const { return (m_characteristics.load() & MFMEDIASOURCE_IS_LIVE) != 0; }
    SourceLink* m_pLink;
    CBufferingRelay* m_pBuffering = nullptr; // while the byte stream tells its buffering
    std::atomic<bool> m_bufferingTold{false};
};
