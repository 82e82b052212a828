// The playing host: events from the source and from every stream arrive through BeginGetEvent on work-queue
// threads and are handled in order on the calling thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>

#include "crc32.h"
#include "host.h"
#include "oggsource.h" // the public header: what any host of the module would include
#include "probe.h"

namespace host {

namespace {
// The object an event carries (its VT_UNKNOWN value) as the interface asked for; empty when it carries none.
template <class T> void EventObject(IMFMediaEvent* event, REFIID iid, T** out) {
    PROPVARIANT v;
    PropVariantInit(&v);
    event->GetValue(&v);
    if (v.vt == VT_UNKNOWN && v.punkVal) v.punkVal->QueryInterface(iid, reinterpret_cast<void**>(out));
    PropVariantClear(&v);
}

constexpr int64_t kFromSource = -1;

struct Delivery {
    int64_t from; // kFromSource, else the stream id (any 32-bit value: an id of 2^32 - 1 is a stream too)
    PlatRef<IMFMediaEvent> event;
};

// Where a listener hands its events: the play's session.
struct EventSink {
    virtual void OnEvent(int64_t from, IMFMediaEvent* event) = 0;
    // The generator refused to hand on its events (other than by shutting down): nothing more will come.
    virtual void OnListenFailed(HRESULT hr) = 0;

protected:
    ~EventSink() = default;
};

// Reads one generator's events and keeps asking for the next until the generator refuses. Each callback handles
// its event and then every event already queued behind it (GetEvent without waiting) before it asks again: a
// stream's waiting samples are read one after the other on one thread, without a wake of a worker for each.
class Listener final : public IMFAsyncCallback {
    PLAT_REFCOUNT(Listener)
    Listener(IMFMediaEventGenerator* generator, int64_t from, std::weak_ptr<EventSink> sink)
        : m_generator(generator), m_from(from), m_sink(std::move(sink)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(Listener, IMFAsyncCallback), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* result) override {
        PlatRef<IMFMediaEvent> event;
        HRESULT hr = m_generator->EndGetEvent(result, &event);
        std::shared_ptr<EventSink> sink = m_sink.lock();
        if (!sink) return S_OK; // the player is gone: nobody listens any more
        if (SUCCEEDED(hr)) {
            do sink->OnEvent(m_from, event.Get());
            while (SUCCEEDED(m_generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event)));
            hr = m_generator->BeginGetEvent(this, nullptr);
        }
        if (FAILED(hr) && hr != MF_E_SHUTDOWN) sink->OnListenFailed(hr); // else shut down: no more events
        return hr;
    }
    HRESULT Listen() { return m_generator->BeginGetEvent(this, nullptr); }

private:
    virtual ~Listener() = default;
    PlatRef<IMFMediaEventGenerator> m_generator;
    int64_t m_from;
    std::weak_ptr<EventSink> m_sink;
};

HRESULT ListenTo(IMFMediaEventGenerator* generator, int64_t from, const std::weak_ptr<EventSink>& sink) {
    PlatRef<Listener> listener;
    listener.Attach(new Listener(generator, from, sink));
    return listener->Listen();
}

} // namespace

bool ReadSample(IMFSample* sample, DWORD id, bool checksum, Sample* out, bool payload) {
    out->stream = id;
    sample->GetSampleTime(&out->time);
    sample->GetSampleDuration(&out->duration);
    UINT32 v = 0;
    out->clean = SUCCEEDED(sample->GetUINT32(MFSampleExtension_CleanPoint, &v)) && v;
    v = 0;
    out->discontinuity = SUCCEEDED(sample->GetUINT32(MFSampleExtension_Discontinuity, &v)) && v;
    PlatRef<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer))) return false;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length))) return false;
    out->size = length;
    out->crc = checksum ? Crc32(data, length) : 0;
    if (payload) out->payload.assign(data, data + length);
    buffer->Unlock();
    return true;
}

std::string EventName(MediaEventType type) {
    switch (type) {
    case MEError: return "MEError";
    case MESourceStarted: return "MESourceStarted";
    case MEStreamStarted: return "MEStreamStarted";
    case MESourceSeeked: return "MESourceSeeked";
    case MEStreamSeeked: return "MEStreamSeeked";
    case MENewStream: return "MENewStream";
    case MEUpdatedStream: return "MEUpdatedStream";
    case MESourceStopped: return "MESourceStopped";
    case MEStreamStopped: return "MEStreamStopped";
    case MESourcePaused: return "MESourcePaused";
    case MEStreamPaused: return "MEStreamPaused";
    case MEEndOfPresentation: return "MEEndOfPresentation";
    case MEEndOfStream: return "MEEndOfStream";
    case MEMediaSample: return "MEMediaSample";
    case MESourceRateChanged: return "MESourceRateChanged";
    case MEStreamFormatChanged: return "MEStreamFormatChanged";
    case MEStreamTick: return "MEStreamTick";
    case MESourceMetadataChanged: return "MESourceMetadataChanged";
    case MEBufferingStarted: return "MEBufferingStarted";
    case MEBufferingStopped: return "MEBufferingStopped";
    default: return std::to_string(type);
    }
}

// The play's state: events are handled where the listeners get them, one at a time under the session's lock;
// Run waits until the play is done. Events that come while no play runs wait for the next one.
class Player::Session final : public EventSink, public std::enable_shared_from_this<Player::Session> {
public:
    explicit Session(IMFMediaSource* source) : m_source(source) {}

    PlayResult Run(const PlayOptions& o, const std::function<void(const Sample&)>& cb) {
        std::unique_lock<std::mutex> g(m_lock);
        m_options = o;
        m_onSample = cb;
        m_result = PlayResult{};
        m_done = m_seeked = false;
        if (m_listening && FAILED(m_lostEvents)) return Fail(m_lostEvents); // a listener gave up before
        m_outstanding.clear();
        m_ended.clear();
        m_running = true;
        HRESULT hr = Setup();
        if (FAILED(hr)) {
            m_running = false;
            return Fail(hr);
        }
        while (!m_pending.empty() && !m_done) {
            Delivery d = std::move(m_pending.front());
            m_pending.pop_front();
            Handle(d);
        }
        while (!m_done) {
            const uint64_t seen = m_handled;
            if (!m_wake.wait_for(g, std::chrono::milliseconds(m_options.timeoutMs), [this] { return m_done; }) &&
                m_handled == seen) {
                m_result.timedOut = true;
                m_running = false;
                return Fail(E_ABORT);
            }
        }
        m_running = false;
        return m_result;
    }

    // Listeners of several streams call this at once: one of them handles the events (its own and those the others
    // hand in) while the others only queue theirs and go back to their generators.
    void OnEvent(int64_t from, IMFMediaEvent* event) override {
        {
            std::lock_guard<std::mutex> g(m_inLock);
            m_incoming.push_back(Delivery{from, PlatRef<IMFMediaEvent>(event)});
            if (m_draining) return;
            m_draining = true;
        }
        for (;;) {
            Delivery d;
            {
                std::lock_guard<std::mutex> g(m_inLock);
                if (m_incoming.empty()) {
                    m_draining = false;
                    return;
                }
                d = std::move(m_incoming.front());
                m_incoming.pop_front();
            }
            std::lock_guard<std::mutex> g(m_lock);
            if (!m_running || m_done) {
                m_pending.push_back(std::move(d));
                continue;
            }
            Handle(d);
            ++m_handled;
            if (m_done) m_wake.notify_one();
        }
    }

    void OnListenFailed(HRESULT hr) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_lostEvents = hr;
        Fail(hr);
        m_done = true;
        m_wake.notify_one();
    }

private:
    PlayResult Fail(HRESULT hr) {
        if (SUCCEEDED(m_result.status)) m_result.status = hr;
        return m_result;
    }

    HRESULT Setup() {
        HRESULT hr = S_OK;
        if (!m_listening) hr = ListenTo(m_source, kFromSource, weak_from_this());
        m_listening = SUCCEEDED(hr);
        if (SUCCEEDED(hr)) hr = m_source->CreatePresentationDescriptor(&m_pd);
        if (SUCCEEDED(hr) && !m_options.streams.empty()) hr = SelectStreams();
        else if (SUCCEEDED(hr)) hr = SelectPlayableWhenNoneIs();
        if (SUCCEEDED(hr) && m_options.rate != 1.0f) {
            PlatRef<IMFGetService> service;
            PlatRef<IMFRateControl> rate;
            hr = m_source->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&service));
            if (SUCCEEDED(hr))
                hr = service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(&rate));
            if (SUCCEEDED(hr)) hr = rate->SetRate(FALSE, m_options.rate);
        }
        if (SUCCEEDED(hr)) hr = StartAt(m_options.startAt, m_options.start);
        return hr;
    }

    HRESULT SelectStreams() {
        DWORD count = 0;
        m_pd->GetStreamDescriptorCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            BOOL selected = FALSE;
            PlatRef<IMFStreamDescriptor> sd;
            DWORD id = 0;
            m_pd->GetStreamDescriptorByIndex(i, &selected, &sd);
            sd->GetStreamIdentifier(&id);
            bool want = false;
            for (DWORD s : m_options.streams) want = want || s == id;
            HRESULT hr = want ? m_pd->SelectStream(i) : m_pd->DeselectStream(i);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    // A presentation that selects nothing by default cannot be started: the host then plays every stream
    // that has a media type, or reports that there is nothing to play.
    HRESULT SelectPlayableWhenNoneIs() {
        DWORD count = 0;
        HRESULT hr = m_pd->GetStreamDescriptorCount(&count);
        std::vector<DWORD> playable;
        for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
            BOOL selected = FALSE;
            PlatRef<IMFStreamDescriptor> sd;
            PlatRef<IMFMediaTypeHandler> handler;
            GUID major = GUID_NULL;
            hr = m_pd->GetStreamDescriptorByIndex(i, &selected, &sd);
            if (FAILED(hr)) break;
            if (selected) return S_OK;
            if (SUCCEEDED(sd->GetMediaTypeHandler(&handler)) && SUCCEEDED(handler->GetMajorType(&major)) &&
                !IsEqualGUID(major, GUID_NULL))
                playable.push_back(i);
        }
        if (FAILED(hr)) return hr;
        if (playable.empty()) {
            m_result.nothingToPlay = true;
            return MF_E_NO_MORE_TYPES;
        }
        for (DWORD i : playable) {
            BOOL selected = FALSE;
            PlatRef<IMFStreamDescriptor> sd;
            DWORD id = 0;
            m_pd->GetStreamDescriptorByIndex(i, &selected, &sd);
            sd->GetStreamIdentifier(&id);
            hr = m_pd->SelectStream(i);
            if (FAILED(hr)) return hr;
            m_result.selectedForPlay.push_back(id);
        }
        return S_OK;
    }

    HRESULT StartAt(bool at, LONGLONG position) {
        PROPVARIANT start;
        PropVariantInit(&start);
        if (at) {
            start.vt = VT_I8;
            start.hVal.QuadPart = position;
        }
        return m_source->Start(m_pd.Get(), nullptr, &start);
    }

    // Keeps the stream's requests outstanding, topped up in bursts once half of them were answered (a burst takes
    // the source lock in a row rather than once between every two samples).
    void Request(DWORD id, bool always = false) {
        auto it = m_streams.find(id);
        if (it == m_streams.end() || m_ended[id]) return;
        if (!always && m_outstanding[id] > m_options.requests / 2) return;
        while (m_outstanding[id] < m_options.requests) {
            const HRESULT hr = it->second->RequestSample(nullptr);
            if (SUCCEEDED(hr)) {
                ++m_outstanding[id];
                continue;
            }
            // The end, a stop or a shutdown that this host has not read yet refuse requests; anything else (no
            // memory for the request) fails the play: no sample would answer it.
            if (hr != MF_E_END_OF_STREAM && hr != MF_E_SHUTDOWN && hr != MF_E_INVALIDREQUEST) {
                Fail(hr);
                m_done = true;
            }
            break;
        }
    }

    void Handle(const Delivery& d) {
        MediaEventType type = MEUnknown;
        HRESULT status = S_OK;
        d.event->GetType(&type);
        d.event->GetStatus(&status);
        if (d.from == kFromSource) HandleSource(d.event.Get(), type, status);
        else HandleStream(static_cast<DWORD>(d.from), d.event.Get(), type, status);
        if (m_options.until && m_options.until()) m_done = true;
    }

    void HandleSource(IMFMediaEvent* event, MediaEventType type, HRESULT status) {
        // A request that reached a stream after its last sample is refused with MF_E_END_OF_STREAM through
        // an error event: the host asks before it can know that the end came; not a failure of the play.
        if (type == MEError && status == MF_E_END_OF_STREAM) return;
        m_result.sourceEvents.push_back(type);
        if (m_options.onEvent) m_options.onEvent(type, -1, status);
        if (FAILED(status)) {
            Fail(status);
            m_done = true;
            return;
        }
        if (type == MESourceMetadataChanged) {
            PlatRef<IMFAttributes> attributes;
            EventObject(event, IID_IMFAttributes, &attributes);
            UINT32 link = 0;
            const bool named = attributes && SUCCEEDED(attributes->GetUINT32(MF_PD_OGG_LINK, &link));
            m_result.linksTold.push_back(named ? static_cast<int>(link) : -1);
            PlatRef<IPropertyStore> store;
            if (attributes)
                attributes->GetUnknown(MF_PD_OGG_LINK_PROPERTIES, IID_IPropertyStore,
                                       reinterpret_cast<void**>(&store));
            const nlohmann::json tags = store ? StoreTags(store.Get()) : nlohmann::json();
            m_result.linkTitles.push_back(tags.contains("title") ? tags["title"].get<std::string>() : "");
            if (m_options.onLinkTold) m_options.onLinkTold(m_result.linksTold.back(), store.Get());
        }
        if (type == MENewStream || type == MEUpdatedStream) {
            PlatRef<IMFMediaStream> stream;
            EventObject(event, IID_IMFMediaStream, &stream);
            PlatRef<IMFStreamDescriptor> sd;
            DWORD id = 0;
            if (stream && SUCCEEDED(stream->GetStreamDescriptor(&sd))) sd->GetStreamIdentifier(&id);
            if (stream && !m_listened.count(id)) {
                const HRESULT hr = ListenTo(stream.Get(), id, weak_from_this());
                if (FAILED(hr)) { // the stream's events could not be asked for: its samples would never come
                    Fail(hr);
                    m_done = true;
                    return;
                }
                m_listened[id] = true;
            }
            if (stream) m_streams[id] = stream;
            // Not reset here: this comes through the source's queue and may be read after the stream's own
            // end of stream; the stream's started or seeked event, on its own queue, begins its run.
            m_ended.emplace(id, false);
        } else if (type == MEEndOfPresentation) {
            m_result.endOfPresentation = true;
            CheckDone();
        }
    }

    // Each stream's events come through its own queue: the source's end of presentation can arrive before
    // a stream's last samples and its end of stream have been read, so both are waited for.
    void CheckDone() {
        if (!m_result.endOfPresentation) return;
        for (const auto& [id, ended] : m_ended)
            if (!ended) return;
        m_done = true;
    }

    void HandleStream(DWORD id, IMFMediaEvent* event, MediaEventType type, HRESULT status) {
        m_result.streamEvents[id].push_back(type);
        if (m_options.onEvent && type != MEMediaSample) m_options.onEvent(type, static_cast<int64_t>(id), status);
        if (FAILED(status)) {
            Fail(status);
            m_done = true;
            return;
        }
        if (type == MEStreamStarted || type == MEStreamSeeked) {
            // A new run: requests made before it may have been refused (the stream had ended), and a refusal
            // cannot be told apart per stream, so the count starts again; extra tokens only wait.
            m_ended[id] = false;
            m_outstanding[id] = 0;
            Request(id, true);
        } else if (type == MEStreamFormatChanged) {
            NoteFormat(id, event);
        } else if (type == MEEndOfStream) {
            ++m_result.endOfStream[id];
            m_ended[id] = true;
            CheckDone();
        } else if (type == MEMediaSample) {
            if (m_outstanding[id] > 0) --m_outstanding[id];
            PlatRef<IMFSample> sample;
            EventObject(event, IID_IMFSample, &sample);
            Sample s;
            if (sample && ReadSample(sample.Get(), id, m_options.checksums, &s, m_options.payloads)) {
                ++m_result.sampleCount;
                if (m_options.keepSamples) m_result.samples.push_back(s);
                if (m_onSample) m_onSample(s);
                if (m_options.seekWhen >= 0 && !m_seeked && s.time >= m_options.seekWhen) {
                    m_seeked = true;
                    HRESULT hr = StartAt(true, m_options.seekTo);
                    if (FAILED(hr)) Fail(hr);
                }
            }
            if (m_options.maxSamples && m_result.sampleCount >= m_options.maxSamples) {
                m_done = true;
                return;
            }
            Request(id);
        }
    }

    void NoteFormat(DWORD id, IMFMediaEvent* event) {
        PlatRef<IMFMediaType> type;
        EventObject(event, IID_IMFMediaType, &type);
        FormatChange f;
        f.stream = id;
        f.beforeSample = m_result.sampleCount;
        if (type) {
            nlohmann::json d;
            TypeDetails(type.Get(), &d);
            auto field = [&](const char* k) { return d.contains(k) && d[k].is_number() ? d[k].get<UINT32>() : 0u; };
            f.channels = field("channels");
            f.sampleRate = field("sample_rate");
            f.width = field("width");
            f.height = field("height");
        }
        m_result.formatChanges.push_back(f);
        if (m_options.onFormat) m_options.onFormat(f);
    }

    IMFMediaSource* m_source;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Delivery> m_pending; // events that came while no play ran
    std::mutex m_inLock;            // the hand-over between listeners
    std::deque<Delivery> m_incoming;
    bool m_draining = false;
    bool m_running = false;
    uint64_t m_handled = 0;
    PlayOptions m_options;
    std::function<void(const Sample&)> m_onSample;
    PlatRef<IMFPresentationDescriptor> m_pd;
    std::map<DWORD, PlatRef<IMFMediaStream>> m_streams;
    std::map<DWORD, int> m_outstanding;
    std::map<DWORD, bool> m_ended;
    PlayResult m_result;
    bool m_done = false;
    bool m_seeked = false;
    bool m_listening = false;
    HRESULT m_lostEvents = S_OK; // a listener's generator stopped handing on events
    std::map<DWORD, bool> m_listened;
};

Player::Player(IMFMediaSource* source) : m_session(std::make_shared<Session>(source)) {}
Player::~Player() = default;
PlayResult Player::Play(const PlayOptions& options, const std::function<void(const Sample&)>& onSample) {
    return m_session->Run(options, onSample);
}

PlayResult Play(IMFMediaSource* source, const PlayOptions& options, const std::function<void(const Sample&)>& onSample) {
    Player player(source);
    return player.Play(options, onSample);
}

} // namespace host
