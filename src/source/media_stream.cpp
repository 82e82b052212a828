#include "media_stream.h"

#include "mf_type_from_am.h"
#include "ogg_attributes.h"
#include "ogg_source.h"

namespace {
// Samples made ahead per stream: production fills the reserve up to kReserveHigh samples (or kReserveBytes), and is
// asked again only when it has fallen to kReserveLow: one production, and one wake of a worker, per batch.
constexpr DWORD kReserveHigh = 96;
constexpr DWORD kReserveLow = 32;
constexpr uint64_t kReserveBytes = 8u << 20;

uint64_t Bytes(IMFSample* sample) {
    DWORD n = 0;
    return SUCCEEDED(sample->GetTotalLength(&n)) ? n : 0;
}

void Assign(IMFMediaType** slot, IMFMediaType* type) {
    if (type) type->AddRef();
    if (*slot) (*slot)->Release();
    *slot = type;
}
} // namespace

OGGStream::OGGStream(SourceLink* link, IMFStreamDescriptor* sd, DWORD id, int32_t index, HRESULT* phr)
    : m_pLink(link), m_id(id), m_index(index), m_pStreamDescriptor(sd) {
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

STDMETHODIMP OGGStream::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {QITABENT(OGGStream, IMFMediaEventGenerator), QITABENT(OGGStream, IMFMediaStream),
                                  {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

STDMETHODIMP_(ULONG) OGGStream::AddRef() { return ++m_refCount; }

STDMETHODIMP_(ULONG) OGGStream::Release() {
    const ULONG n = --m_refCount;
    if (n == 0) delete this;
    return n;
}

// The event queue, with a reference; null once the stream is shut down.
IMFMediaEventQueue* OGGStream::EventQueue() {
    std::lock_guard<std::mutex> g(m_queueLock);
    if (m_pEventQueue) m_pEventQueue->AddRef();
    return m_pEventQueue;
}

STDMETHODIMP OGGStream::GetEvent(DWORD flags, IMFMediaEvent** event) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->GetEvent(flags, event); // may block: outside every lock
    queue->Release();
    return hr;
}

STDMETHODIMP OGGStream::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->BeginGetEvent(callback, state);
    queue->Release();
    return hr;
}

STDMETHODIMP OGGStream::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->EndGetEvent(result, event);
    queue->Release();
    return hr;
}

STDMETHODIMP OGGStream::QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) {
    IMFMediaEventQueue* queue = EventQueue();
    if (!queue) return MF_E_SHUTDOWN;
    HRESULT hr = queue->QueueEventParamVar(type, ext, status, value);
    queue->Release();
    return hr;
}

STDMETHODIMP OGGStream::GetMediaSource(IMFMediaSource** source) {
    if (!source) return E_POINTER;
    {
        CAutoLock lock(m_lock);
        if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    }
    OGGSource* owner = m_pLink ? m_pLink->Acquire() : nullptr;
    if (!owner) return E_UNEXPECTED;
    HRESULT hr = owner->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(source));
    owner->Release();
    return hr;
}

// After the shutdown, MF_E_SHUTDOWN as from every other method (rather than E_UNEXPECTED for the descriptor
// released by the shutdown), so that a host tells a shut-down stream by one code.
STDMETHODIMP OGGStream::GetStreamDescriptor(IMFStreamDescriptor** sd) {
    if (!sd) return E_POINTER;
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    if (!m_pStreamDescriptor) return E_UNEXPECTED;
    *sd = m_pStreamDescriptor;
    (*sd)->AddRef();
    return S_OK;
}

// A request at the wrong time is refused from the call with the code Media Foundation gives it (rather than
// accepted and answered by an MEError on the source, which hosts take as fatal, when they only raced the end).
STDMETHODIMP OGGStream::RequestSample(IUnknown* token) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    if (m_state == SourceStopped) return MF_E_MEDIA_SOURCE_WRONGSTATE;
    if (!m_active) return MF_E_INVALIDREQUEST;
    if (m_eosSent) return MF_E_END_OF_STREAM;
    HRESULT hr = m_requests.PushBack(token);
    if (SUCCEEDED(hr)) hr = Match();
    AskForProduction();
    return hr;
}

bool OGGStream::WantsProduction() const {
    return m_active && !m_ended && m_state != SourceStopped && m_state != SourceShutdown && !m_asked &&
           m_samples.Count() <= kReserveLow;
}

void OGGStream::AskForProduction() {
    if (!WantsProduction()) return;
    if (OGGSource* source = m_pLink ? m_pLink->Acquire() : nullptr) {
        m_asked = source->ScheduleProduction(m_index);
        source->Release();
    }
}

IOggDemuxSink::Consumer OGGStream::ConsumerState() {
    CAutoLock lock(m_lock);
    if (m_samples.Count() < kReserveHigh && m_queuedBytes < kReserveBytes) return IOggDemuxSink::Consumer::Room;
    return m_requests.Count() > 0 ? IOggDemuxSink::Consumer::Asking : IOggDemuxSink::Consumer::Idle;
}

bool OGGStream::Active() {
    CAutoLock lock(m_lock);
    return m_active;
}

bool OGGStream::EndSent() {
    CAutoLock lock(m_lock);
    return m_eosSent;
}

HRESULT OGGStream::NoteFormat(const CAMMediaType& type) {
    IMFMediaType* now = nullptr;
    HRESULT hr = MFCreateMediaType(&now);
    if (SUCCEEDED(hr)) hr = InitMediaTypeFromAM(now, &type);
    CAutoLock lock(m_lock);
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

HRESULT OGGStream::DeliverSamples(IMFSample* const* samples, int count, DWORD run, bool* full) {
    *full = true;
    CAutoLock lock(m_lock);
    // Samples of another run, or after the stream's end or its deselection, never go out.
    if (m_state == SourceShutdown || run != m_run || m_ended || !m_active) return S_FALSE;
    HRESULT hr = S_OK;
    for (int i = 0; i < count && SUCCEEDED(hr); ++i) {
        if (m_pPendingFormat) {
            hr = samples[i]->SetUnknown(MFSampleExtension_OggFormat, m_pPendingFormat);
            if (FAILED(hr)) break;
            Assign(&m_pPendingFormat, nullptr);
        }
        if (m_ticked) {
            hr = samples[i]->SetUINT32(MFSampleExtension_Discontinuity, TRUE);
            if (FAILED(hr)) break;
            m_ticked = false;
        }
        hr = m_samples.PushBack(samples[i]);
        if (SUCCEEDED(hr)) m_queuedBytes += Bytes(samples[i]);
    }
    m_asked = false;
    const HRESULT matched = Match();
    *full = m_samples.Count() >= kReserveHigh || m_queuedBytes >= kReserveBytes;
    return FAILED(hr) ? hr : matched;
}

HRESULT OGGStream::Tick(DWORD run, LONGLONG time) {
    CAutoLock lock(m_lock);
    if (run != m_run || m_state != SourceStarted || m_starting || m_ended || m_samples.Count() > 0) return S_OK;
    m_ticked = true;
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = time;
    return QueueEvent(MEStreamTick, GUID_NULL, S_OK, &value);
}

HRESULT OGGStream::MarkEnded(DWORD run) {
    CAutoLock lock(m_lock);
    if (run != m_run || m_state == SourceShutdown) return S_OK;
    m_ended = true;
    return Match();
}

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
        m_position = next > 0 ? next : time;
        hr = AnnounceFormat(sample);
        IMFMediaEventQueue* queue = EventQueue();
        if (SUCCEEDED(hr)) hr = queue ? queue->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample) : MF_E_SHUTDOWN;
        if (queue) queue->Release();
    }
    sample->Release();
    if (token) token->Release();
    return hr;
}

HRESULT OGGStream::Match() {
    if (m_state != SourceStarted || m_starting) return S_OK;
    HRESULT hr = S_OK;
    while (SUCCEEDED(hr) && m_samples.Count() > 0 && m_requests.Count() > 0) hr = MatchOne();
    // The end goes out in answer to a request that finds no sample left: a host that asks after the last sample
    // hears of the end then, whichever way it asks.
    if (SUCCEEDED(hr) && m_ended && !m_eosSent && m_samples.Count() == 0 && m_requests.Count() > 0) hr = SendEnd();
    return hr;
}

HRESULT OGGStream::SendEnd() {
    m_eosSent = true;
    m_requests.Clear();
    HRESULT hr = QueueEvent(MEEndOfStream, GUID_NULL, S_OK, nullptr);
    if (OGGSource* source = m_pLink ? m_pLink->Acquire() : nullptr) {
        if (SUCCEEDED(hr)) hr = source->QueueStreamOperation(OpEndOfStream, m_id, m_run);
        source->Release();
    }
    return hr;
}

// A sample that begins a link of another format goes out after MEStreamFormatChanged with that format.
HRESULT OGGStream::AnnounceFormat(IMFSample* sample) {
    IMFMediaType* type = nullptr;
    if (FAILED(sample->GetUnknown(MFSampleExtension_OggFormat, IID_IMFMediaType, reinterpret_cast<void**>(&type))))
        return S_OK;
    sample->DeleteItem(MFSampleExtension_OggFormat);
    IMFMediaEventQueue* queue = EventQueue();
    HRESULT hr = queue ? queue->QueueEventParamUnk(MEStreamFormatChanged, GUID_NULL, S_OK, type) : MF_E_SHUTDOWN;
    if (queue) queue->Release();
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

void OGGStream::SetActive(bool active) {
    CAutoLock lock(m_lock);
    if (active == m_active) return;
    m_active = active;
    if (!active) {
        DropSamples();
        m_requests.Clear();
    }
}

// The stream counts as started from here (a host that saw the source's started or seeked event may ask for samples
// at once), but nothing goes out before its own started or seeked event.
void OGGStream::PrepareRun(DWORD run) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return;
    m_run = run;
    m_ended = m_eosSent = m_asked = m_ticked = false;
    m_starting = true;
    m_state = SourceStarted;
    DropSamples();
}

HRESULT OGGStream::StartStream(const PROPVARIANT* value, bool seeking) {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    HRESULT hr = QueueEvent(seeking ? MEStreamSeeked : MEStreamStarted, GUID_NULL, S_OK, value);
    if (FAILED(hr)) return hr;
    m_starting = false;
    m_state = SourceStarted;
    hr = Match();
    // Production is asked anew once the stream is started in its run: an ask made between the run's preparation and
    // the core's start of it found the core still in the run before and made nothing.
    m_asked = false;
    AskForProduction();
    return hr;
}

HRESULT OGGStream::PauseStream() {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    m_state = SourcePaused;
    return QueueEvent(MEStreamPaused, GUID_NULL, S_OK, nullptr);
}

HRESULT OGGStream::StopStream() {
    CAutoLock lock(m_lock);
    if (m_state == SourceShutdown) return MF_E_SHUTDOWN;
    m_requests.Clear();
    DropSamples();
    m_state = SourceStopped;
    m_asked = false;
    return QueueEvent(MEStreamStopped, GUID_NULL, S_OK, nullptr);
}

void OGGStream::ShutdownStream() {
    IMFMediaEventQueue* queue = nullptr;
    {
        CAutoLock lock(m_lock);
        if (m_state == SourceShutdown) return;
        m_state = SourceShutdown;
        m_samples.Clear();
        m_requests.Clear();
        if (m_pStreamDescriptor) m_pStreamDescriptor->Release();
        m_pStreamDescriptor = nullptr;
    }
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        queue = m_pEventQueue;
        m_pEventQueue = nullptr;
    }
    if (queue) {
        queue->Shutdown();
        queue->Release();
    }
}
