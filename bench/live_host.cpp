#include "live_host.h"

#include <algorithm>
#include <thread>

namespace bench {

LiveHost::LiveHost(IMFMediaSource* source, IMFByteStream* stream) : m_source(source), m_stream(stream) {
    // The source takes the byte stream's events itself (a host that asked for them too would be refused):
    // the host only checks that there are any to pass on.
    PlatRef<IMFByteStreamBuffering> buffering;
    PlatRef<IMFMediaEventGenerator> events;
    m_buffers =
        stream &&
        SUCCEEDED(stream->QueryInterface(IID_IMFByteStreamBuffering, reinterpret_cast<void**>(&buffering))) &&
        SUCCEEDED(stream->QueryInterface(IID_IMFMediaEventGenerator, reinterpret_cast<void**>(&events)));
}

HRESULT LiveHost::Start() {
    PlatRef<IMFPresentationDescriptor> pd;
    HRESULT hr = m_source->CreatePresentationDescriptor(&pd);
    PROPVARIANT empty;
    PropVariantInit(&empty);
    m_started = Clock::now();
    if (SUCCEEDED(hr)) hr = m_source->Start(pd.Get(), nullptr, &empty);
    return hr;
}

uint64_t LiveHost::BytesRead() const {
    QWORD at = 0;
    return m_stream && SUCCEEDED(m_stream->GetCurrentPosition(&at)) ? at : 0;
}

double LiveHost::TakeLongestGapMs() {
    const double gap = m_longestGapMs;
    m_longestGapMs = 0;
    return gap;
}

HRESULT LiveHost::NextEvent(IMFMediaEventGenerator* generator, const char* call, IMFMediaEvent** event) {
    const auto t0 = Clock::now();
    const HRESULT hr = generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, event);
    if (m_times) m_times->Add(call, Ms(Clock::now() - t0), hr == MF_E_NO_EVENTS_AVAILABLE ? S_OK : hr);
    return hr;
}

void LiveHost::Pump() {
    PlatRef<IMFMediaEvent> e;
    while (SUCCEEDED(NextEvent(m_source.Get(), "GetEvent (source, no wait)", &e))) {
        MediaEventType t = MEUnknown;
        e->GetType(&t);
        HandleSource(e.Get(), t);
    }
    for (size_t i = 0; i < m_streams.size(); ++i) // by index: a source event above may have added one
        while (SUCCEEDED(NextEvent(m_streams[i].stream.Get(), "GetEvent (stream, no wait)", &e))) {
            MediaEventType t = MEUnknown;
            e->GetType(&t);
            HandleStream(&m_streams[i], e.Get(), t);
        }
}

bool LiveHost::PumpUntil(MediaEventType type, std::chrono::milliseconds limit) {
    const uint64_t before = m_sourceEvents[type];
    const auto deadline = Clock::now() + limit;
    for (;;) {
        Pump();
        if (m_sourceEvents[type] > before) return true;
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void LiveHost::NoteError(HRESULT status) {
    ++m_counts.errors;
    if (SUCCEEDED(m_counts.firstError)) m_counts.firstError = status;
}

void LiveHost::HandleSource(IMFMediaEvent* event, MediaEventType type) {
    ++m_sourceEvents[type];
    HRESULT status = S_OK;
    event->GetStatus(&status);
    if (type == MEError || FAILED(status)) NoteError(status);
    if (type == MESourceMetadataChanged) ++m_counts.metadata;
    if (type == MEBufferingStarted) ++m_counts.bufferingStarted;
    if (type == MEBufferingStopped) ++m_counts.bufferingStopped;
    if (type != MENewStream && type != MEUpdatedStream) return;
    PlatRef<IMFMediaStream> stream = EventObject<IMFMediaStream>(event, IID_IMFMediaStream);
    if (!stream) return;
    for (const Stream& s : m_streams)
        if (s.stream.Get() == stream.Get()) return;
    m_streams.push_back(Stream{stream});
}

void LiveHost::HandleStream(Stream* s, IMFMediaEvent* event, MediaEventType type) {
    HRESULT status = S_OK;
    event->GetStatus(&status);
    if (type == MEError || FAILED(status)) NoteError(status);
    switch (type) {
    case MEStreamStarted:
        s->ended = false;
        TopUp(s);
        break;
    case MEStreamStopped:
        s->outstanding = 0;
        break; // a stop drops the requests
    case MEStreamTick:
        ++m_counts.ticks;
        break;
    case MEStreamFormatChanged:
        ++m_counts.formats;
        break;
    case MEEndOfStream:
        ++m_counts.ends;
        s->ended = true;
        break;
    case MEMediaSample:
        if (s->outstanding > 0) --s->outstanding;
        NoteSample(s, event);
        TopUp(s);
        break;
    default:
        break;
    }
}

namespace {
// A Vorbis identification header: packet type 1, then "vorbis" (a header packet is short; a data packet has
// bit 0 of its first byte clear).
bool IsVorbisIdHeader(IMFSample* sample) {
    PlatRef<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer)) || FAILED(buffer->Lock(&data, nullptr, &length)))
        return false;
    static const BYTE kId[7] = {1, 'v', 'o', 'r', 'b', 'i', 's'};
    const bool id = length >= sizeof kId && std::equal(kId, kId + sizeof kId, data);
    buffer->Unlock();
    return id;
}
} // namespace

void LiveHost::NoteSample(Stream* s, IMFMediaEvent* event) {
    const auto now = Clock::now();
    if (m_counts.samples > 0)
        m_longestGapMs = std::max(m_longestGapMs, Ms(now - m_lastSample));
    else
        m_firstSampleMs = Ms(now - m_started);
    m_lastSample = now;
    ++m_counts.samples;
    PlatRef<IMFSample> sample = EventObject<IMFSample>(event, IID_IMFSample);
    DWORD length = 0;
    if (sample && SUCCEEDED(sample->GetTotalLength(&length))) m_counts.sampleBytes += length;
    if (!sample || s != &m_streams.front() || length > 256 || !IsVorbisIdHeader(sample.Get())) return;
    if (s->idHeaders++ > 0) ++m_counts.linksCrossed;
}

// Four requests outstanding per stream: the source always has one to answer while the host handles another.
void LiveHost::TopUp(Stream* s) {
    while (!s->ended && s->outstanding < 4) {
        const auto t0 = Clock::now();
        const HRESULT hr = s->stream->RequestSample(nullptr);
        if (m_times) m_times->Add("RequestSample", Ms(Clock::now() - t0), hr);
        if (FAILED(hr)) return;
        ++s->outstanding;
    }
}
} // namespace bench
