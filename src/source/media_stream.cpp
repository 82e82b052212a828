#include "media_stream.h"

#include "mf_type_from_am.h"
#include "ogg_attributes.h"
#include "ogg_source.h"

namespace {
// Samples made ahead per stream: a request for data makes samples until the reserve holds kReserveHigh of them
// (or kReserveBytes), and the next request is posted only when it has fallen to kReserveLow. One request, and
// one wake of a worker, per batch instead of per matched sample (a reserve of four, refilled at every match, cost
// several thread switches per sample).
constexpr DWORD kReserveHigh = 32;
constexpr DWORD kReserveLow = 8;
constexpr uint64_t kReserveBytes = 8u << 20;

uint64_t Bytes(IMFSample* sample) {
    DWORD n = 0;
    return SUCCEEDED(sample->GetTotalLength(&n)) ? n : 0;
}

} // namespace

// Every method but the IUnknown ones runs under the source lock, with a reference on the source; once
// the source is gone, under the stream's own lock instead.
class OGGStream::SourceGuard {
public:
    explicit SourceGuard(OGGStream* stream)
        : m_stream(stream), m_source(stream->m_pLink ? stream->m_pLink->Acquire() : nullptr) {
        if (m_source) m_source->m_lock.Lock();
        else m_stream->m_orphanLock.lock();
    }
    ~SourceGuard() {
        if (m_source) {
            m_source->m_lock.Unlock();
            m_source->Release();
        } else {
            m_stream->m_orphanLock.unlock();
        }
    }
    OGGSource* Source() const { return m_source; }

private:
    OGGStream* m_stream;
    OGGSource* m_source;
};

OGGStream::OGGStream(SourceLink* link, IMFStreamDescriptor* sd, DWORD id, HRESULT* phr)
    : m_id(id), m_pLink(link), m_pStreamDescriptor(sd) {
    if (m_pLink) m_pLink->AddRef();
    if (m_pStreamDescriptor) m_pStreamDescriptor->AddRef();
    *phr = MFCreateEventQueue(&m_pEventQueue);
}

OGGStream::~OGGStream() {
    if (m_pLink) m_pLink->Release();
    m_requests.Clear();
    m_samples.Clear();
    // Normally released by the shutdown; a stream never shut down lets them go here.
    if (m_pEventQueue) {
        m_pEventQueue->Shutdown();
        m_pEventQueue->Release();
    }
    if (m_pStreamDescriptor) m_pStreamDescriptor->Release();
    for (IMFMediaType* t : {m_pAnnounced, m_pExpected, m_pPendingFormat})
        if (t) t->Release();
}

HRESULT OGGStream::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {QITABENT(OGGStream, IMFMediaEventGenerator), QITABENT(OGGStream, IMFMediaStream),
                                  {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

ULONG OGGStream::AddRef() { return ++m_refCount; }

ULONG OGGStream::Release() {
    ULONG n = --m_refCount;
    if (n == 0) delete this;
    return n;
}

// The event queue, with a reference, for the event methods; null once the stream is shut down. Those methods
// take the stream's own small lock, not the source lock: a host reading its events never waits for a production
// run that holds the source lock.
IMFMediaEventQueue* OGGStream::EventQueue() {
    std::lock_guard<std::mutex> g(m_queueLock);
    if (m_pEventQueue) m_pEventQueue->AddRef();
    return m_pEventQueue;
}

HRESULT OGGStream::GetEvent(DWORD flags, IMFMediaEvent** event) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->GetEvent(flags, event); // may block: outside every lock
    queue->Release();
    return hr;
}

HRESULT OGGStream::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->BeginGetEvent(callback, state);
    queue->Release();
    return hr;
}

HRESULT OGGStream::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->EndGetEvent(result, event);
    queue->Release();
    return hr;
}

HRESULT OGGStream::QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->QueueEventParamVar(type, ext, status, value);
    queue->Release();
    return hr;
}

HRESULT OGGStream::GetMediaSource(IMFMediaSource** source) {
    if (!source) return E_POINTER;
    SourceGuard guard(this);
    if (!guard.Source()) return E_UNEXPECTED;
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    return guard.Source()->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(source));
}

HRESULT OGGStream::GetStreamDescriptor(IMFStreamDescriptor** sd) {
    if (!sd) return E_POINTER;
    SourceGuard guard(this);
    if (!m_pStreamDescriptor) return E_UNEXPECTED;
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    *sd = m_pStreamDescriptor;
    (*sd)->AddRef();
    return S_OK;
}

void OGGStream::ReportError(HRESULT hr) {
    SourceGuard guard(this);
    if (m_state != SourceShutdown && guard.Source()) guard.Source()->QueueEvent(MEError, GUID_NULL, hr, nullptr);
}

HRESULT OGGStream::RequestSample(IUnknown* token) {
    SourceGuard guard(this);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    HRESULT hr;
    if (m_state == SourceStopped || !m_active) hr = MF_E_INVALIDREQUEST;
    else if (m_endOfStream && m_samples.Count() == 0) hr = MF_E_END_OF_STREAM;
    else hr = m_requests.PushBack(token);
    if (SUCCEEDED(hr)) return DeliverQueuedSamples();
    // A refusal is reported as an error event on the source, not as this method's result.
    if (!guard.Source()) return hr;
    return guard.Source()->QueueEvent(MEError, GUID_NULL, hr, nullptr);
}

namespace {
void Assign(IMFMediaType** slot, IMFMediaType* type) {
    if (type) type->AddRef();
    if (*slot) (*slot)->Release();
    *slot = type;
}
} // namespace

HRESULT OGGStream::NoteFormat(const CAMMediaType& type) {
    SourceGuard guard(this);
    IMFMediaType* now = nullptr;
    HRESULT hr = MFCreateMediaType(&now);
    if (SUCCEEDED(hr)) hr = InitMediaTypeFromAM(now, &type);
    IMFMediaType* expected = m_pExpected ? m_pExpected : m_pAnnounced;
    IMFMediaTypeHandler* handler = nullptr;
    if (SUCCEEDED(hr) && !expected && m_pStreamDescriptor && SUCCEEDED(m_pStreamDescriptor->GetMediaTypeHandler(&handler))) {
        handler->GetCurrentMediaType(&expected); // the type the stream was opened with
        handler->Release();
        Assign(&m_pAnnounced, expected);
        if (expected) expected->Release();
    }
    BOOL same = FALSE;
    if (SUCCEEDED(hr) && expected) expected->Compare(now, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same);
    if (SUCCEEDED(hr) && !same) {
        Assign(&m_pPendingFormat, now);
        Assign(&m_pExpected, now);
    }
    if (now) now->Release();
    return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT OGGStream::DeliverSample(IMFSample* sample) {
    SourceGuard guard(this);
    if (m_pPendingFormat) {
        HRESULT hr = sample->SetUnknown(MFSampleExtension_OggFormat, m_pPendingFormat);
        if (FAILED(hr)) return hr;
        Assign(&m_pPendingFormat, nullptr);
    }
    HRESULT hr = m_samples.PushBack(sample);
    if (FAILED(hr)) return hr;
    m_queuedBytes += Bytes(sample);
    DeliverQueuedSamples();
    return S_OK;
}

HRESULT OGGStream::MarkEndOfStream() {
    SourceGuard guard(this);
    m_endOfStream = TRUE;
    DeliverQueuedSamples();
    return S_OK;
}

bool OGGStream::WantsMoreSamples() {
    SourceGuard guard(this);
    return m_active && !m_endOfStream && m_samples.Count() < kReserveHigh && m_queuedBytes < kReserveBytes;
}

bool OGGStream::IsActive() {
    SourceGuard guard(this);
    return m_active != FALSE;
}

void OGGStream::WaitOutLock() { SourceGuard guard(this); }

// One sample matched with one request and sent.
HRESULT OGGStream::MatchOne() {
    IMFSample* sample = nullptr;
    IUnknown* token = nullptr;
    m_samples.PopFront(&sample);
    m_requests.PopFront(&token);
    const uint64_t bytes = Bytes(sample);
    m_queuedBytes = m_queuedBytes > bytes ? m_queuedBytes - bytes : 0;
    HRESULT hr = S_OK;
    if (token) hr = sample->SetUnknown(MFSampleExtension_Token, token);
    if (SUCCEEDED(hr)) {
        LONGLONG time = 0, next = 0;
        if (FAILED(sample->GetSampleTime(&time))) time = 0;
        IMFSample* waiting = nullptr;
        if (SUCCEEDED(m_samples.PeekFront(&waiting)) && waiting) {
            if (FAILED(waiting->GetSampleTime(&next))) next = 0;
            waiting->Release();
        }
        SourceGuard guard(this);
        if (guard.Source()) guard.Source()->m_rtCurrent = next > 0 ? next : time;
        hr = AnnounceFormat(sample);
        if (SUCCEEDED(hr)) hr = m_pEventQueue->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample);
    }
    sample->Release();
    if (token) token->Release();
    return hr;
}

// A sample that begins a link of another format goes out after MEStreamFormatChanged with that format.
HRESULT OGGStream::AnnounceFormat(IMFSample* sample) {
    IMFMediaType* type = nullptr;
    if (FAILED(sample->GetUnknown(MFSampleExtension_OggFormat, IID_IMFMediaType, reinterpret_cast<void**>(&type))))
        return S_OK;
    sample->DeleteItem(MFSampleExtension_OggFormat);
    HRESULT hr = m_pEventQueue->QueueEventParamUnk(MEStreamFormatChanged, GUID_NULL, S_OK, type);
    IMFMediaTypeHandler* handler = nullptr;
    if (SUCCEEDED(hr) && m_pStreamDescriptor && SUCCEEDED(m_pStreamDescriptor->GetMediaTypeHandler(&handler))) {
        handler->SetCurrentMediaType(type); // what GetCurrentMediaType tells from now on
        handler->Release();
    }
    Assign(&m_pAnnounced, type);
    type->Release();
    return hr;
}

// Samples that will not go out: the host keeps the format it was told last.
void OGGStream::DropSamples() {
    m_samples.Clear();
    m_queuedBytes = 0;
    Assign(&m_pExpected, nullptr);
    Assign(&m_pPendingFormat, nullptr);
}

HRESULT OGGStream::DeliverQueuedSamples() {
    SourceGuard guard(this);
    if (m_state != SourceStarted) return S_OK;
    HRESULT hr = S_OK;
    while (SUCCEEDED(hr) && m_samples.Count() > 0 && m_requests.Count() > 0) hr = MatchOne();
    if (SUCCEEDED(hr)) {
        if (m_samples.Count() == 0 && m_endOfStream) {
            if (!m_eosSent) {
                m_eosSent = true;
                hr = m_pEventQueue->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
                if (SUCCEEDED(hr) && guard.Source()) hr = guard.Source()->QueueStreamOperation(OpEndOfStream, m_id, m_runId);
            }
        } else if (m_active && !m_endOfStream && m_samples.Count() <= kReserveLow && guard.Source() && !m_requestQueued) {
            // One request for data waits at a time: a production run fills the reserve anyway, and a
            // request per matched sample only queued work items that found nothing more to do.
            hr = guard.Source()->QueueStreamOperation(OpRequestData, m_id, m_runId);
            m_requestQueued = SUCCEEDED(hr);
        }
    }
    if (FAILED(hr) && m_state != SourceShutdown && guard.Source())
        guard.Source()->QueueEvent(MEError, GUID_NULL, hr, nullptr);
    return S_OK;
}

void OGGStream::SetActive(BOOL active) {
    SourceGuard guard(this);
    if ((active != FALSE) == (m_active != FALSE)) return;
    m_active = active;
    if (!active) {
        DropSamples();
        m_requests.Clear();
    }
}

HRESULT OGGStream::StartStream(const PROPVARIANT* value, bool seeking, bool newRun, DWORD runId) {
    SourceGuard guard(this);
    // A resume continues the run: a stream that ended in it stays ended (clearing its end made it read on
    // past its end and send a second MEEndOfStream).
    if (newRun || m_state == SourceStopped) {
        m_endOfStream = FALSE;
        m_eosSent = false;
    }
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    HRESULT hr = QueueEvent(seeking ? MEStreamSeeked : MEStreamStarted, GUID_NULL, S_OK, value);
    if (FAILED(hr)) return hr;
    // A restart at 0 is no seek, yet the samples made for the run before it must not follow its
    // MEStreamStarted: every new run starts with nothing waiting (a resume from pause keeps them).
    if (seeking || newRun) DropSamples();
    if (newRun) {
        m_runId = runId;
        m_requestQueued = false; // a request of the run before is dropped when it runs
    }
    m_state = SourceStarted;
    if (!seeking) DeliverQueuedSamples();
    return S_OK;
}

HRESULT OGGStream::PauseStream() {
    SourceGuard guard(this);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    m_state = SourcePaused;
    return QueueEvent(MEStreamPaused, GUID_NULL, S_OK, nullptr);
}

HRESULT OGGStream::StopStream() {
    SourceGuard guard(this);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    m_requests.Clear();
    DropSamples();
    m_requestQueued = false; // its request for data, if one waits, belongs to the run that ends here
    m_state = SourceStopped;
    return QueueEvent(MEStreamStopped, GUID_NULL, S_OK, nullptr);
}

void OGGStream::ShutdownStream() {
    SourceGuard guard(this);
    if (m_state == SourceShutdown) return;
    m_state = SourceShutdown;
    m_pEventQueue->Shutdown();
    m_samples.Clear();
    m_requests.Clear();
    if (m_pStreamDescriptor) m_pStreamDescriptor->Release();
    m_pStreamDescriptor = nullptr;
    IMFMediaEventQueue* queue = nullptr;
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        queue = m_pEventQueue;
        m_pEventQueue = nullptr;
    }
    queue->Release();
}
