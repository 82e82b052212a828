// Execution of queued operations: start (with and without a seek), pause, stop, sample requests and the
// end of streams, with their events in a fixed order.
#include "ogg_source.h"

HRESULT OGGSource::ExecuteOperation(SourceOp* op) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return S_OK;
    HRESULT hr;
    switch (op->m_type) {
    case OpStart: hr = DoStart(static_cast<StartOp*>(op)); break;
    case OpPause: hr = DoPause(op); break;
    case OpStop: hr = DoStop(op); break;
    case OpRequestData: hr = DoRequestData(op); break;
    case OpEndOfStream: hr = DoEndOfStream(op); break;
    default: hr = E_UNEXPECTED; break;
    }
    if (FAILED(hr) && m_state != SourceShutdown) QueueEvent(MEError, GUID_NULL, hr, nullptr);
    return hr;
}

bool OGGSource::Claim(SourceOp* op) {
    if (m_pPendingOp || !op) return false;
    m_pPendingOp = op;
    op->AddRef();
    return true;
}

void OGGSource::Unclaim(SourceOp* op) {
    if (m_pPendingOp != op || !op) return;
    m_pPendingOp->Release();
    m_pPendingOp = nullptr;
    ScheduleProcessing();
}

// A new run begins; called while no reader thread reads (stopped, or each waiting for its next request),
// so a read failure is always reported with the run it happened in.
void OGGSource::BeginRun() {
    ++m_runId;
    m_bPresentationEnded = false;
}

// Ends every reader thread and its production loop; the next request for data makes the thread anew.
void OGGSource::EndReaderThreads() {
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        s->SignalStop();
        s->m_reader.SendRequest(ReaderExit);
        s->m_reader.EndThread();
    }
}

// Stops every reader and its production loop and empties the page queues.
void OGGSource::StopReaders() {
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        s->SignalStop();
        s->m_reader.SendRequest(ReaderStop);
        s->Clear();
    }
}

// A start with a position: readers stopped, queues cleared, every reader at the page for the position,
// readers running again. From the stopped state the bisection runs through SetCurrentPosition; while
// started or paused SetCurrentPosition only stores the position, yet hosts seek exactly that way (a
// Start with a new position while running), so the readers are moved by the same bisection and every
// stream begins a new run there (discontinuity, Vorbis headers, the drop rule).
void OGGSource::RepositionReaders(LONGLONG position, HRESULT* hr) {
    const bool running = m_state != SourceStopped;
    StopReaders();
    BeginRun();
    if (SUCCEEDED(*hr)) *hr = SetCurrentPosition(&position);
    if (SUCCEEDED(*hr) && running) {
        InvalidateApplied();
        LONGLONG start = 0, stop = 0;
        double rate = 1.0;
        ReadRunPositions(&start, &stop, &rate);
        *hr = PositionReaders(start, stop);
    }
    SetFileEnded(false);
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        if (running) m_ppOggStreams[i]->m_bNewRun = 1;
        m_ppOggStreams[i]->m_reader.SendRequest(ReaderRun);
    }
}

HRESULT OGGSource::DoStart(StartOp* op) {
    if (!Claim(op)) return E_FAIL;
    HRESULT hr = S_OK;
    IMFPresentationDescriptor* pd = op->m_pPresentationDescriptor;
    if (pd) pd->AddRef();
    else hr = MF_E_INVALIDREQUEST;
    LONGLONG position = 0;
    bool seek = false, resuming = false, typeOk = true;
    const bool wasStopped = m_state == SourceStopped;
    if (op->m_data.vt == VT_I8) {
        position = op->m_data.hVal.QuadPart;
        seek = position > 0;
    } else if (op->m_data.vt == VT_EMPTY) {
        // After the end of the presentation there is nothing to resume: a start from the current position
        // plays it again from the start, as from the stopped state. The presentation is over once every selected
        // stream has sent its end, even while its end event is still on its way (else whether the start resumed
        // or replayed depended on which of the two the operation thread took first).
        if (!wasStopped && !m_bPresentationEnded && !EverySelectedStreamEnded() && SUCCEEDED(hr)) {
            hr = GetCurrentPosition(&position);
            resuming = true;
        }
    } else {
        hr = MF_E_UNSUPPORTED_TIME_FORMAT;
        typeOk = false;
    }
    if (SUCCEEDED(hr) && typeOk) hr = SelectStreams(pd);
    // A start at 0 while running is no seek, but it must still go back to the start.
    const bool reposition = seek || (!wasStopped && (op->m_data.vt == VT_I8 || (typeOk && !resuming)));
    if (reposition && typeOk) RepositionReaders(position, &hr);
    else if (wasStopped) BeginRun();
    // Every start begins a run but a resume (a start from the current position while paused or started).
    const bool newRun = wasStopped || reposition;

    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = position;
    if (seek) {
        if (SUCCEEDED(hr)) hr = QueueEvent(MESourceSeeked, GUID_NULL, S_OK, &value);
    } else if (SUCCEEDED(hr)) {
        IMFMediaEvent* event = nullptr;
        hr = MFCreateMediaEvent(MESourceStarted, GUID_NULL, S_OK, &value, &event);
        if (SUCCEEDED(hr) && resuming) hr = event->SetUINT64(MF_EVENT_SOURCE_ACTUAL_START, static_cast<UINT64>(position));
        if (SUCCEEDED(hr)) hr = m_pEventQueue->QueueEvent(event);
        if (event) event->Release();
    }
    m_state = SourceStarted;
    SetFileEnded(false);
    if (SUCCEEDED(hr)) hr = StartStreams(pd, &value, seek, newRun);
    if (SUCCEEDED(hr) && reposition && !wasStopped) {
        // Requests the host made before the seek still wait: production must start again for them.
        for (uint32_t i = 0; i < m_cStreams; ++i)
            if (m_streams[i] && m_streams[i]->m_active) m_streams[i]->DeliverQueuedSamples();
    }
    if (FAILED(hr) && m_pEventQueue) m_pEventQueue->QueueEventParamVar(MESourceStarted, GUID_NULL, hr, nullptr);
    Unclaim(op);
    if (pd) pd->Release();
    return hr;
}

// Calls fn (media stream, selected) for every stream descriptor of the presentation, in order; a descriptor
// that names no media stream of this source is E_INVALIDARG. The first failure ends the walk.
template <class Fn> HRESULT OGGSource::ForEachStream(IMFPresentationDescriptor* pd, Fn fn) {
    DWORD count = 0;
    HRESULT hr = pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        BOOL selected = FALSE;
        IMFStreamDescriptor* sd = nullptr;
        DWORD id = 0;
        hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (SUCCEEDED(hr)) hr = sd->GetStreamIdentifier(&id);
        if (sd) sd->Release();
        if (FAILED(hr)) break;
        OGGStream* stream = FindMediaStream(id);
        hr = stream ? fn(stream, selected != FALSE) : E_INVALIDARG;
    }
    return hr;
}

HRESULT OGGSource::SelectStreams(IMFPresentationDescriptor* pd) {
    return ForEachStream(pd, [this](OGGStream* stream, bool selected) {
        const bool wasActive = stream->m_active != FALSE;
        stream->SetActive(selected);
        if (!selected) return S_OK;
        return m_pEventQueue->QueueEventParamUnk(wasActive ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                                 static_cast<IMFMediaStream*>(stream));
    });
}

HRESULT OGGSource::StartStreams(IMFPresentationDescriptor* pd, const PROPVARIANT* value, bool seek, bool newRun) {
    const DWORD run = m_runId;
    return ForEachStream(pd, [&](OGGStream* stream, bool selected) {
        return selected ? stream->StartStream(value, seek, newRun, run) : S_OK;
    });
}

HRESULT OGGSource::DoPause(SourceOp* op) {
    if (!Claim(op)) return E_FAIL;
    HRESULT hr = S_OK;
    if (m_state != SourceStarted) {
        hr = MF_E_INVALID_STATE_TRANSITION;
    } else {
        for (uint32_t i = 0; i < m_cStreams && SUCCEEDED(hr); ++i)
            if (m_streams[i] && m_streams[i]->m_active) hr = m_streams[i]->PauseStream();
        m_state = SourcePaused;
    }
    m_pEventQueue->QueueEventParamVar(MESourcePaused, GUID_NULL, hr, nullptr);
    Unclaim(op);
    return hr;
}

HRESULT OGGSource::DoStop(SourceOp* op) {
    HRESULT hr = Claim(op) ? S_OK : E_FAIL;
    for (uint32_t i = 0; i < m_cStreams && SUCCEEDED(hr); ++i)
        if (m_streams[i] && m_streams[i]->m_active) hr = m_streams[i]->StopStream();
    if (m_pReader) m_pReader->Flush();
    EndReaderThreads();
    BeginRun(); // what the run made and asked for is dropped from here on
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        s->Clear();
        {
            CAutoLock lock(s->m_csStarved);
            s->m_bStarved = FALSE;
        }
        s->m_bRunning = FALSE;
        s->m_bNewRun = 0;
    }
    LONGLONG zero = 0;
    SetCurrentPosition(&zero);
    SetReaderPositions(0);
    // The readers are back at byte 0 whatever was applied last (the source was still started when the
    // position 0 was applied above, so it was not recorded): a later start at the position applied
    // before must search again rather than take the shortcut and play from byte 0.
    InvalidateApplied();
    if (SUCCEEDED(hr) && m_pReader) {
        QWORD at = 0;
        hr = m_pReader->Seek(msoBegin, 0, MFBYTESTREAM_SEEK_FLAG_CANCEL_PENDING_IO, &at);
        if (SUCCEEDED(hr)) ++m_nStopCount;
    }
    if (m_pPendingRequestOp) m_pPendingRequestOp->Release();
    m_pPendingRequestOp = nullptr;
    m_state = SourceStopped;
    m_pEventQueue->QueueEventParamVar(MESourceStopped, GUID_NULL, hr, nullptr);
    Unclaim(op);
    return hr;
}

HRESULT OGGSource::DoRequestData(SourceOp* op) {
    // A request made for an earlier run (before a stop or a restart) asks for nothing any more: running it
    // would start a reader and a production run in the wrong run, or while stopped.
    OGGStream* media = FindMediaStream(op->m_streamId);
    const bool current = media && op->m_runId == m_runId && media->m_runId == m_runId && m_state != SourceStopped;
    if (current) media->RequestTaken();
    if (!Claim(op)) return E_FAIL;
    HRESULT hr = S_OK;
    if (current && !m_pPendingRequestOp) {
        PROPVARIANT stamp;
        PropVariantInit(&stamp);
        stamp.vt = VT_UI4;
        stamp.ulVal = m_nStopCount;
        hr = PropVariantCopy(&op->m_data, &stamp);
        if (SUCCEEDED(hr)) {
            m_pPendingRequestOp = op;
            op->AddRef();
            COggStream* s = nullptr;
            for (int32_t i = 0; i < m_cOggStreams && !s; ++i)
                if (m_ppOggStreams[i]->m_serialNo == op->m_streamId) s = m_ppOggStreams[i];
            bool produce = s != nullptr;
            if (s && !s->m_bRunning) {
                CAutoLock lock(s->m_csStarved);
                s->m_bStarved = FALSE;
            }
            if (s && !s->m_bRunning) {
                produce = s->m_reader.Create() != FALSE;
                if (produce) s->m_reader.SendRequest(ReaderRun);
            }
            if (produce) {
                // A sample that could not be made (no memory for it) fails the play: the host hears of it rather
                // than waiting for a sample that will not come.
                const HRESULT made = s->DeliverSamples();
                if (FAILED(made) && made != MF_E_SHUTDOWN)
                    m_pEventQueue->QueueEventParamVar(MEError, GUID_NULL, made, nullptr);
                s->m_bRunning = TRUE;
                s->m_bNewRun = 0;
            }
            m_pPendingRequestOp->Release();
            m_pPendingRequestOp = nullptr;
        }
    }
    Unclaim(op);
    return hr;
}

bool OGGSource::EverySelectedStreamEnded() {
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streams[i] && m_streams[i]->m_active && !m_streams[i]->EndSent()) return false;
    return true;
}

HRESULT OGGSource::DoEndOfStream(SourceOp* op) {
    HRESULT hr = S_OK;
    const bool claimed = Claim(op);
    if (claimed && op->m_runId != m_runId) { // the end of a stream in an earlier run: counts for nothing now
        Unclaim(op);
        return S_OK;
    }
    const bool presentationEnds = claimed && !m_bPresentationEnded && EverySelectedStreamEnded();
    if (presentationEnds) {
        m_bPresentationEnded = true;
        hr = m_pEventQueue->QueueEventParamVar(MEEndOfPresentation, GUID_NULL, S_OK, nullptr);
    }
    // The rewind waits for the end of the whole presentation: rewinding when the first of several
    // streams ends would make the others read the file again from its start and deliver it twice.
    if (presentationEnds) {
        if (m_pReader) m_pReader->Flush();
        LONGLONG zero = 0;
        SetCurrentPosition(&zero);
        // The readers wait at byte 0 for the next run (every start sends them on) instead of reading the file
        // again at once for a play that may never come.
        StopReaders();
        SetReaderPositions(0);
    }
    if (m_pPendingOp != op) return E_FAIL;
    m_pPendingOp->Release();
    m_pPendingOp = nullptr;
    HRESULT scheduled = ScheduleProcessing();
    return FAILED(hr) ? hr : scheduled;
}

namespace {
// The work item that ends the streams after a failed read. It holds the weak link, not the source: the
// reader thread neither waits for the source lock nor holds a reference it could drop last. It keeps the
// module loaded while it waits in the work queue.
class EndStreamsItem final : private MediaFoundationSamples::BaseObject, public IMFAsyncCallback, public CNoThrowAlloc {
public:
    EndStreamsItem(SourceLink* link, DWORD runId) : m_pLink(link), m_runId(runId) { m_pLink->AddRef(); }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(EndStreamsItem, IMFAsyncCallback), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        ULONG n = --m_cRef;
        if (n == 0) delete this;
        return n;
    }
    HRESULT GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Invoke(IMFAsyncResult*) override {
        if (OGGSource* source = m_pLink->Acquire()) {
            source->EndActiveStreams(m_runId);
            source->Release();
        }
        return S_OK;
    }

private:
    ~EndStreamsItem() override { m_pLink->Release(); }
    std::atomic<ULONG> m_cRef{1};
    SourceLink* m_pLink;
    DWORD m_runId;
};
} // namespace

void OGGSource::OnReadFailure() {
    EndStreamsItem* item = new EndStreamsItem(m_pLink, m_runId);
    if (!item) return; // no memory: the streams end when their readers find the end of the data
    MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, item, nullptr);
    item->Release();
}

void OGGSource::EndActiveStreams(DWORD runId) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown || runId != m_runId) return;
    for (uint32_t i = 0; i < m_cStreams; ++i) {
        if (m_streams[i] && m_streams[i]->IsActive() && FAILED(m_streams[i]->MarkEndOfStream())) break;
    }
}
