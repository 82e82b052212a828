// Execution of queued operations: start (with and without a seek), pause, stop and the end of streams, with
// their events in a fixed order. Every operation returns at once: the core's reader does the reading (a
// seek's search included) when its read in hand returns, and production runs on work items of its own.
#include "ogg_source.h"

HRESULT OGGSource::ExecuteOperation(SourceOp* op) {
    CAutoLock lock(m_lock);
    if (ShutDown()) return S_OK;
    HRESULT hr;
    switch (op->m_type) {
    case OpStart:
        hr = DoStart(static_cast<StartOp*>(op));
        break;
    case OpPause:
        hr = DoPause(op);
        break;
    case OpStop:
        hr = DoStop(op);
        break;
    case OpEndOfStream:
        hr = DoEndOfStream(op);
        break;
    default:
        hr = E_UNEXPECTED;
        break;
    }
    if (FAILED(hr) && !ShutDown()) QueueEvent(MEError, GUID_NULL, hr, nullptr);
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

// Where the presentation is: the furthest any active stream's host has come.
LONGLONG OGGSource::CurrentPosition() {
    LONGLONG position = 0;
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streams[i]->Active() && m_streams[i]->Position() > position)
            position = m_streams[i]->Position();
    return position;
}

// A new run from `position` (0: the start, without a search): what the run before made and asked for is
// dropped from here on. The media streams enter it first, so that nothing production makes for it is lost or
// goes out before their started or seeked event.
HRESULT OGGSource::BeginRun(LONGLONG position) {
    const DWORD run = ++m_runId;
    m_bPresentationEnded = false;
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streams[i]->Active()) m_streams[i]->PrepareRun(run);
    return m_pCore->BeginRun(run, position);
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

// The selection of the start: each stream is told, and the core with it. joined[i]: m_streams[i] became
// selected; *left: a stream became deselected.
HRESULT OGGSource::SelectStreams(IMFPresentationDescriptor* pd, bool* joined, bool* left) {
    *left = false;
    return ForEachStream(pd, [&](OGGStream* stream, bool selected) {
        const bool wasActive = stream->Active();
        stream->SetActive(selected);
        m_pCore->Select(stream->Index(), selected);
        for (uint32_t i = 0; i < m_cStreams; ++i)
            if (m_streams[i] == stream) joined[i] = selected && !wasActive;
        *left = *left || (!selected && wasActive);
        if (!selected) return S_OK;
        IMFMediaEventQueue* queue = EventQueue();
        HRESULT hr = queue ? queue->QueueEventParamUnk(wasActive ? MEUpdatedStream : MENewStream, GUID_NULL,
                                                       S_OK, static_cast<IMFMediaStream*>(stream))
                           : MF_E_SHUTDOWN;
        if (queue) queue->Release();
        return hr;
    });
}

HRESULT OGGSource::StartStreams(IMFPresentationDescriptor* pd, const PROPVARIANT* value, bool seek) {
    return ForEachStream(pd, [&](OGGStream* stream, bool selected) {
        return selected ? stream->StartStream(value, seek) : S_OK;
    });
}

HRESULT OGGSource::QueueStarted(bool seek, bool resuming, LONGLONG position) {
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = position;
    if (seek) return QueueEvent(MESourceSeeked, GUID_NULL, S_OK, &value);
    IMFMediaEvent* event = nullptr;
    HRESULT hr = MFCreateMediaEvent(MESourceStarted, GUID_NULL, S_OK, &value, &event);
    if (SUCCEEDED(hr) && resuming)
        hr = event->SetUINT64(MF_EVENT_SOURCE_ACTUAL_START, static_cast<UINT64>(position));
    IMFMediaEventQueue* queue = EventQueue();
    if (SUCCEEDED(hr)) hr = queue ? queue->QueueEvent(event) : MF_E_SHUTDOWN;
    if (queue) queue->Release();
    if (event) event->Release();
    return hr;
}

HRESULT OGGSource::DoStart(StartOp* op) {
    if (!Claim(op)) return E_FAIL;
    HRESULT hr = S_OK;
    IMFPresentationDescriptor* pd = op->m_pPresentationDescriptor;
    if (pd)
        pd->AddRef();
    else
        hr = MF_E_INVALIDREQUEST;
    LONGLONG position = 0;
    bool seek = false, resuming = false;
    const bool wasStopped = m_state == SourceStopped;
    if (op->m_data.vt == VT_I8 && Seekable()) {
        position = op->m_data.hVal.QuadPart;
        seek = position > 0;
    } else if (op->m_data.vt == VT_EMPTY ||
               op->m_data.vt == VT_I8) { // the position the call took is the current one
        // After the end of the presentation there is nothing to resume: a start from the current position
        // plays it again from the start, as from the stopped state.
        resuming = !wasStopped && !m_bPresentationEnded && !EverySelectedStreamEnded();
        // A broadcast paused was read on and dropped: it goes on live, in a new run.
        if (Live() && m_state == SourcePaused) resuming = false;
        // Bytes that cannot be read again: a new run goes on from where they are, and the presentation with
        // it.
        if (resuming || !Seekable()) position = CurrentPosition();
    } else {
        hr = MF_E_UNSUPPORTED_TIME_FORMAT;
    }
    bool joined[MaxMediaStreams] = {}, left = false;
    if (SUCCEEDED(hr)) hr = SelectStreams(pd, joined, &left);
    // Every start begins a run but a resume (a start from the current position while paused or started); a
    // start at 0 while running is no seek, yet it goes back to the start.
    const bool newRun = !resuming;
    if (SUCCEEDED(hr) && newRun) hr = BeginRun(seek ? position : 0);
    // A chain read anywhere: the run plays from the link of its start, which the host hears of when it is not
    // the one it was told of last; later links are told as production reaches them.
    const int32_t startLink = SUCCEEDED(hr) && newRun && Seekable() && m_pCore->LinkCount() > 1
                                  ? m_pCore->LinkAt(seek ? position : 0)
                                  : -1;
    const bool tellStartLink = startLink >= 0 && m_linksTold.Restart(startLink);
    if (SUCCEEDED(hr) && resuming) {
        // Streams selected on a resume join the run where the presentation is; deselected ones take nothing
        // more.
        bool changed = left;
        for (uint32_t i = 0; i < m_cStreams; ++i) {
            if (!joined[i]) continue;
            m_streams[i]->PrepareRun(m_runId);
            m_pCore->JoinStream(m_streams[i]->Index(), m_runId);
            changed = true;
        }
        if (changed) m_pCore->JoinRun(m_runId, position);
    }
    // A start that fails leaves the state as it was and reports its failure once: in MESourceStarted when
    // that event had not gone out yet, else through the MEError that follows.
    bool announced = false;
    if (SUCCEEDED(hr)) {
        hr = QueueStarted(seek, resuming, position);
        announced = SUCCEEDED(hr);
    }
    if (announced && tellStartLink) TellLink(startLink, nullptr);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = position;
    if (SUCCEEDED(hr)) hr = StartStreams(pd, &value, seek);
    if (SUCCEEDED(hr)) m_state = SourceStarted;
    // A resume whose selection leaves only streams that ended ends the presentation.
    if (SUCCEEDED(hr) && resuming && !m_bPresentationEnded && EverySelectedStreamEnded())
        hr = EndPresentation();
    if (FAILED(hr) && !announced) {
        if (IMFMediaEventQueue* queue = EventQueue()) {
            queue->QueueEventParamVar(MESourceStarted, GUID_NULL, hr, nullptr);
            queue->Release();
        }
    }
    if (FAILED(hr)) m_requestedState = m_state;
    Unclaim(op);
    if (pd) pd->Release();
    return hr;
}

HRESULT OGGSource::DoPause(SourceOp* op) {
    if (!Claim(op)) return E_FAIL;
    HRESULT hr = S_OK;
    if (m_state != SourceStarted) {
        // The start it followed failed: the refusal goes with MESourcePaused only (no MEError).
        if (IMFMediaEventQueue* queue = EventQueue()) {
            queue->QueueEventParamVar(MESourcePaused, GUID_NULL, MF_E_INVALID_STATE_TRANSITION, nullptr);
            queue->Release();
        }
        Unclaim(op);
        return S_OK;
    }
    for (uint32_t i = 0; i < m_cStreams && SUCCEEDED(hr); ++i)
        if (m_streams[i]->Active()) hr = m_streams[i]->PauseStream();
    // A broadcast does not wait while paused: the reader reads on and drops what comes, so that the server
    // never sees a client that stopped reading.
    if (Live()) {
        ++m_runId;
        m_pCore->StopRun();
    }
    m_state = SourcePaused;
    if (IMFMediaEventQueue* queue = EventQueue()) {
        queue->QueueEventParamVar(MESourcePaused, GUID_NULL, hr, nullptr);
        queue->Release();
    }
    Unclaim(op);
    return hr;
}

HRESULT OGGSource::DoStop(SourceOp* op) {
    HRESULT hr = Claim(op) ? S_OK : E_FAIL;
    for (uint32_t i = 0; i < m_cStreams && SUCCEEDED(hr); ++i)
        if (m_streams[i]->Active()) hr = m_streams[i]->StopStream();
    // No reading while stopped; what the run made and asked for is dropped from here on.
    ++m_runId;
    m_pCore->StopRun();
    m_state = SourceStopped;
    if (IMFMediaEventQueue* queue = EventQueue()) {
        queue->QueueEventParamVar(MESourceStopped, GUID_NULL, hr, nullptr);
        queue->Release();
    }
    Unclaim(op);
    return hr;
}

bool OGGSource::EverySelectedStreamEnded() {
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streams[i]->Active() && !m_streams[i]->EndSent()) return false;
    return true;
}

// The end of the presentation goes out once per run; the reader then stops until the next run.
HRESULT OGGSource::EndPresentation() {
    m_bPresentationEnded = true;
    m_pCore->StopRun();
    IMFMediaEventQueue* queue = EventQueue();
    HRESULT hr =
        queue ? queue->QueueEventParamVar(MEEndOfPresentation, GUID_NULL, S_OK, nullptr) : MF_E_SHUTDOWN;
    if (queue) queue->Release();
    return hr;
}

HRESULT OGGSource::DoEndOfStream(SourceOp* op) {
    if (!Claim(op)) return E_FAIL;
    HRESULT hr = S_OK;
    // The end of a stream in an earlier run counts for nothing now.
    if (op->m_runId == m_runId && !m_bPresentationEnded && EverySelectedStreamEnded()) hr = EndPresentation();
    Unclaim(op);
    return hr;
}
