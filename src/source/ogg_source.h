// The media source: IMFMediaSource with its event generator, the rate interfaces, the operation queue
// and the demultiplexing core it plays from.
#pragma once
#include "base_object.h"
#include "media_stream.h"
#include "ogg/source_core.h"
#include "op_queue.h"

class OGGSource : private MediaFoundationSamples::BaseObject,
                  public OpQueue<SourceOp>,
                  public IMFMediaSource,
                  public COggSourceCore,
                  public IMFRateControl,
                  public IMFRateSupport,
                  public IMFGetService,
                  public CNoThrowAlloc {
public:
    explicit OGGSource(HRESULT* phr);

    // Runs the open over the byte stream; called once, right after construction.
    HRESULT Initialize(IMFByteStream* stream);

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // Adds a reference unless the count has already reached 0 (the source is being destroyed).
    bool TryAddRef();

    // IMFMediaEventGenerator
    HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) override;
    HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    HRESULT QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) override;

    // IMFMediaSource
    HRESULT GetCharacteristics(DWORD* characteristics) override;
    HRESULT CreatePresentationDescriptor(IMFPresentationDescriptor** pd) override;
    HRESULT Start(IMFPresentationDescriptor* pd, const GUID* timeFormat, const PROPVARIANT* start) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Shutdown() override;

    // IMFRateControl, IMFRateSupport, IMFGetService
    HRESULT SetRate(BOOL thin, float rate) override;
    HRESULT GetRate(BOOL* thin, float* rate) override;
    HRESULT GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) override;
    HRESULT GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) override;
    HRESULT IsRateSupported(BOOL thin, float rate, float* nearest) override;
    HRESULT GetService(REFGUID service, REFIID riid, LPVOID* ppv) override;

    // OpQueue
    HRESULT ExecuteOperation(SourceOp* op) override;
    HRESULT CheckOperation(SourceOp* op) override;

    // COggSourceCore
    HRESULT DescribeLinks(IMFPresentationDescriptor* pd);
    HRESULT CreateMediaStream(COggStream* stream, uint32_t id) override;
    uint32_t MediaStreamCount() override { return m_cStreams; }
    void OnReadFailure() override;

    HRESULT QueueSimpleOperation(DWORD type);
    // A media stream's request for data or end of stream, stamped with the stream's run.
    HRESULT QueueStreamOperation(DWORD type, DWORD streamId, DWORD runId);
    // Ends every active media stream after a failed read during the run given (a later run is left alone).
    void EndActiveStreams(DWORD runId);

    OGGStream* m_streams[MaxMediaStreams] = {};
    BYTE m_streamIds[MaxMediaStreams] = {};
    uint32_t m_cStreams = 0;

private:
    ~OGGSource() override;
    HRESULT BuildPresentationDescriptor();
    void DescribeStreams();
    OGGStream* FindMediaStream(DWORD id);

    // Dispatch
    bool Claim(SourceOp* op);
    void Unclaim(SourceOp* op);
    HRESULT DoStart(StartOp* op);
    HRESULT DoPause(SourceOp* op);
    HRESULT DoStop(SourceOp* op);
    HRESULT DoRequestData(SourceOp* op);
    HRESULT DoEndOfStream(SourceOp* op);
    template <class Fn> HRESULT ForEachStream(IMFPresentationDescriptor* pd, Fn fn);
    HRESULT SelectStreams(IMFPresentationDescriptor* pd);
    bool EverySelectedStreamEnded();
    HRESULT StartStreams(IMFPresentationDescriptor* pd, const PROPVARIANT* value, bool seek, bool newRun);
    void RepositionReaders(LONGLONG position, HRESULT* hr);
    void StopReaders();
    void EndReaderThreads();
    void BeginRun();

    std::atomic<ULONG> m_refCount{1};
    IMFMediaEventQueue* m_pEventQueue = nullptr;
    IMFPresentationDescriptor* m_pPD = nullptr;
    // The end of the presentation went out in this run. It goes out once per run, when every selected stream
    // has sent its end: a count of pending ends, as kept before, counted ends of another run and was reset by
    // a resume although ends already sent in the run would not come again.
    bool m_bPresentationEnded = false;
    uint32_t m_nStopCount = 0;
    SourceOp* m_pPendingOp = nullptr;
    SourceOp* m_pPendingRequestOp = nullptr;
    // The run: counted up by every start that begins one (from stopped, or at a new position) and by every
    // stop, always while no reader thread reads. Read by the reader threads when a read fails.
    std::atomic<DWORD> m_runId{0};
    SourceLink* m_pLink;
};
