// Host calls made while a read of the play is stalled: the source plays a file through the fault byte stream,
// the host takes samples until the reader needs bytes, and the next read is held at the stream's gate. Every
// call is timed while that read waits; the gate opens stallMs after the read was held (after the calls,
// unless one of them waited for the read: its time then shows it), and the table says whether a read was
// still held when the calls, and Shutdown, came back.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>

#include "bench_common.h"
#include "platform/completion.h"
#include "subcommands.h"

namespace bench {
namespace {

// Takes samples from every stream (a few requests outstanding each) until a read waits at the gate.
bool TakeUntilHeld(IFaultByteStreamControl* control, const std::vector<PlatRef<IMFMediaStream>>& streams) {
    std::vector<int> outstanding(streams.size(), 0);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (control->HeldReads() == 0) {
        if (Clock::now() > deadline) return false;
        for (size_t i = 0; i < streams.size(); ++i) {
            for (; outstanding[i] < 4 && SUCCEEDED(streams[i]->RequestSample(nullptr)); ++outstanding[i]) {
            }
            PlatRef<IMFMediaEvent> e;
            while (SUCCEEDED(streams[i]->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e))) {
                MediaEventType t = MEUnknown;
                e->GetType(&t);
                if (t == MEMediaSample) --outstanding[i];
                if (t == MEEndOfStream) return false; // the file ended before any read waited
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The source's events queued now, counted by name (what the source answered while the read was held).
// taken: the events the host's own GetEvent calls took meanwhile.
std::string AnsweredEvents(IMFMediaSource* source, std::vector<MediaEventType> taken) {
    std::vector<std::pair<std::string, int>> counts;
    PlatRef<IMFMediaEvent> e;
    while (SUCCEEDED(source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e))) {
        MediaEventType t = MEUnknown;
        e->GetType(&t);
        taken.push_back(t);
    }
    for (MediaEventType t : taken) {
        if (t == MEUnknown) continue; // the host's own QueueEvent
        const std::string name = host::EventName(t);
        auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == name; });
        if (it == counts.end())
            counts.emplace_back(name, 1);
        else
            ++it->second;
    }
    std::string text;
    for (const auto& [name, n] : counts)
        text += (text.empty() ? "" : ", ") + name + " x" + std::to_string(n);
    return text.empty() ? "none" : text;
}

// A BeginGetEvent whose callback is awaited after the timed call (a pending BeginGetEvent would refuse the
// next round's GetEvent); what it took joins `taken`.
class PendingEvent {
public:
    explicit PendingEvent(std::vector<MediaEventType>* taken) : m_taken(taken) {}
    HRESULT Begin(IMFMediaSource* source) {
        m_source = source;
        HRESULT hr = PlatCreate<PlatCompletion>(&m_done);
        return SUCCEEDED(hr) ? source->BeginGetEvent(m_done.Get(), nullptr) : hr;
    }
    void End() {
        if (!m_done) return;
        PlatRef<IMFAsyncResult> result = m_done->Take(3000);
        if (!result) ++m_late;
        PlatRef<IMFMediaEvent> e;
        MediaEventType t = MEUnknown;
        if (result && SUCCEEDED(m_source->EndGetEvent(result.Get(), &e)) && SUCCEEDED(e->GetType(&t)))
            m_taken->push_back(t);
        m_done.Reset(nullptr);
    }
    unsigned Late() const { return m_late; } // callbacks that did not come within 3 s

private:
    std::vector<MediaEventType>* m_taken;
    IMFMediaSource* m_source = nullptr;
    PlatRef<PlatCompletion> m_done;
    unsigned m_late = 0;
};

struct Call {
    const char* name;
    std::function<HRESULT()> call;    // timed
    std::function<void()> after = {}; // not timed
};

// taken: the events that the calls' GetEvent took.
std::vector<Call> HostCalls(IMFMediaSource* source, IMFPresentationDescriptor* pd, IMFMediaStream* stream,
                            std::vector<MediaEventType>* taken, PendingEvent* pending) {
    PlatRef<IMFRateControl> rate;
    PlatRef<IMFRateSupport> support;
    source->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&rate));
    source->QueryInterface(IID_IMFRateSupport, reinterpret_cast<void**>(&support));
    auto start = [source, pd](bool at) {
        PROPVARIANT p;
        PropVariantInit(&p);
        if (at) {
            p.vt = VT_I8;
            p.hVal.QuadPart = 10000000;
        }
        return source->Start(pd, nullptr, &p);
    };
    // In an order where each call is one a host may make at that point: the round ends started again. The
    // host's own event is queued first, so that BeginGetEvent always has one to complete with at once.
    // clang-format off
    return {
        {"GetCharacteristics", [source] { DWORD f; return source->GetCharacteristics(&f); }},
        {"CreatePresentationDescriptor", [source] { PlatRef<IMFPresentationDescriptor> p; return source->CreatePresentationDescriptor(&p); }},
        {"QueueEvent", [source] { return source->QueueEvent(MEUnknown, GUID_NULL, S_OK, nullptr); }},
        {"BeginGetEvent", [source, pending] { return pending->Begin(source); }, [pending] { pending->End(); }},
        {"GetEvent (no wait)", [source, taken] { PlatRef<IMFMediaEvent> e; MediaEventType t = MEUnknown;
                                                 const HRESULT hr = source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e);
                                                 if (e && SUCCEEDED(e->GetType(&t))) taken->push_back(t);
                                                 return hr == MF_E_NO_EVENTS_AVAILABLE ? S_OK : hr; }},
        {"RequestSample", [stream] { return stream->RequestSample(nullptr); }},
        {"GetStreamDescriptor", [stream] { PlatRef<IMFStreamDescriptor> d; return stream->GetStreamDescriptor(&d); }},
        {"IsRateSupported", [support] { return support->IsRateSupported(FALSE, 2.0f, nullptr); }},
        {"SetRate", [rate] { return rate->SetRate(FALSE, 1.0f); }},
        {"Pause", [source] { return source->Pause(); }},
        {"Start (resume)", [start] { return start(false); }},
        {"Start (seek to 10 s)", [start] { return start(true); }},
        {"Stop", [source] { return source->Stop(); }},
        {"Start (from stopped)", [start] { return start(false); }},
    };
    // clang-format on
}
} // namespace

namespace {
// Opens FILE through the counting byte stream and starts it: the streams announced.
bool OpenAndStart(const char* path, Counted* c, IMFMediaSource** source, IMFPresentationDescriptor** pd,
                  std::vector<PlatRef<IMFMediaStream>>* streams) {
    PROPVARIANT empty;
    PropVariantInit(&empty);
    return c->control && SUCCEEDED(host::OpenByteStream(c->stream.Get(), source, path)) &&
           SUCCEEDED((*source)->CreatePresentationDescriptor(pd)) &&
           SUCCEEDED((*source)->Start(*pd, nullptr, &empty)) && Announced(*source, streams) &&
           !streams->empty();
}
} // namespace

int StallLatency(const char* path, int stallMs) {
    Counted c(path);
    PlatRef<IMFMediaSource> source;
    PlatRef<IMFPresentationDescriptor> pd;
    std::vector<PlatRef<IMFMediaStream>> streams;
    if (!OpenAndStart(path, &c, &source, &pd, &streams)) {
        std::fprintf(stderr, "%s: cannot open and start it\n", path);
        return 1;
    }
    c.control->HoldReads(true);
    if (!TakeUntilHeld(c.control.Get(), streams)) {
        std::fprintf(stderr, "%s: no read of the play came to the gate\n", path);
        return 1;
    }
    const auto held = Clock::now();
    std::thread release([&] {
        std::this_thread::sleep_until(held + std::chrono::milliseconds(stallMs));
        c.control->HoldReads(false);
    });
    CallTimes times;
    std::vector<MediaEventType> taken;
    PendingEvent pending(&taken);
    const std::vector<Call> calls = HostCalls(source.Get(), pd.Get(), streams[0].Get(), &taken, &pending);
    for (int round = 0; round < 5; ++round)
        for (const Call& call : calls) {
            times.Time(call.name, call.call);
            if (call.after) call.after();
        }
    const double callsEnded = Ms(Clock::now() - held);
    const unsigned heldAfterCalls = c.control->HeldReads();
    // The calls only ask: what the source did meanwhile shows in the events it sent while the read was held.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0, std::min(200, stallMs / 4))));
    const std::string answered = AnsweredEvents(source.Get(), taken);
    const double answersEnded = Ms(Clock::now() - held);
    times.Time("Shutdown", [&] { return source->Shutdown(); });
    const unsigned heldAfterShutdown = c.control->HeldReads();
    const double shutdownEnded = Ms(Clock::now() - held);
    release.join();
    times.Print();
    std::printf("\nA read held from 0 ms to %d ms (the bench opened the gate then). The calls (5 rounds) "
                "came back by %.1f ms with %u read(s) held; by %.1f ms the source had sent: %s. "
                "Shutdown came back by %.1f ms with %u read(s) held.\n",
                stallMs, callsEnded, heldAfterCalls, answersEnded, answered.c_str(), shutdownEnded,
                heldAfterShutdown);
    if (pending.Late())
        std::printf("BeginGetEvent: %u callback(s) did not come within 3 s.\n", pending.Late());
    PrintTargets(times);
    return heldAfterCalls > 0 && heldAfterShutdown > 0 ? 0 : 3;
}
} // namespace bench
