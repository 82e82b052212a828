// oggsource session (Windows): plays a file through the system's Media Session, the third client of the
// source that nobody here wrote. Every stream with a media type is connected to a sample grabber sink in its
// own type (no decoder), the sinks running free of the presentation clock; the session plays until it sends
// MESessionEnded, and what each sink got is printed as play --json prints samples. --pause pauses once the
// first sample has come and resumes; --rate sets the session's rate before the start.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "host.h"
#include "json_lines.h"
#include "options.h"
#include "session.h"

namespace {
const char kUsage[] =
    "usage: oggsource session [--start SECONDS] [--pause] [--rate R] [--timeout SECONDS] FILE\n";

struct Options {
    std::string file;
    bool startAt = false, pause = false;
    bool clock = true; // the sinks take samples when the presentation clock reaches them, as renderers do
    bool anySource = false; // the system's own sources too, to tell the session's behaviour from ours
    LONGLONG start = 0;
    float rate = 1.0f;
    unsigned timeoutMs = 120000; // a session that has not ended by then never will
};

const char* SessionEventName(MediaEventType type) {
    switch (type) {
    case MESessionTopologySet:
        return "MESessionTopologySet";
    case MESessionTopologiesCleared:
        return "MESessionTopologiesCleared";
    case MESessionStarted:
        return "MESessionStarted";
    case MESessionPaused:
        return "MESessionPaused";
    case MESessionStopped:
        return "MESessionStopped";
    case MESessionClosed:
        return "MESessionClosed";
    case MESessionEnded:
        return "MESessionEnded";
    case MESessionRateChanged:
        return "MESessionRateChanged";
    case MESessionCapabilitiesChanged:
        return "MESessionCapabilitiesChanged";
    case MESessionTopologyStatus:
        return "MESessionTopologyStatus";
    case MESessionNotifyPresentationTime:
        return "MESessionNotifyPresentationTime";
    case MEEndOfPresentation:
        return "MEEndOfPresentation";
    case MEError:
        return "MEError";
    default:
        return nullptr;
    }
}

int Fail(const std::string& file, const char* what, HRESULT hr) {
    std::fprintf(stderr, "%s: %s (%s)\n", file.c_str(), what, host::HResultText(hr).c_str());
    return 1;
}

// The topology: per stream with a media type, a source node and a sample grabber sink in the stream's own
// type.
HRESULT BuildTopology(IMFMediaSource* source, IMFPresentationDescriptor* pd, IMFTopology* topology,
                      bool clock, const std::function<void(const host::Sample&)>& onSample) {
    DWORD count = 0;
    HRESULT hr = pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        PlatRef<IMFMediaTypeHandler> handler;
        PlatRef<IMFMediaType> type;
        DWORD id = 0;
        hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (SUCCEEDED(hr)) hr = sd->GetStreamIdentifier(&id);
        if (FAILED(hr)) break;
        if (FAILED(sd->GetMediaTypeHandler(&handler)) || FAILED(handler->GetCurrentMediaType(&type))) {
            hr = pd->DeselectStream(i); // no type: nothing to connect
            continue;
        }
        hr = pd->SelectStream(i);
        PlatRef<IMFTopologyNode> in, out;
        PlatRef<IMFActivate> sink;
        PlatRef<session::Grabber> grabber;
        grabber.Attach(new (std::nothrow) session::Grabber(id, onSample));
        if (SUCCEEDED(hr) && !grabber) hr = E_OUTOFMEMORY;
        if (SUCCEEDED(hr)) hr = MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &in);
        if (SUCCEEDED(hr)) hr = in->SetUnknown(MF_TOPONODE_SOURCE, source);
        if (SUCCEEDED(hr)) hr = in->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, pd);
        if (SUCCEEDED(hr)) hr = in->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, sd.Get());
        if (SUCCEEDED(hr)) hr = MFCreateSampleGrabberSinkActivate(type.Get(), grabber.Get(), &sink);
        // Without the clock, samples are handed on as they come (faster than the presentation's own time).
        if (SUCCEEDED(hr) && !clock) hr = sink->SetUINT32(MF_SAMPLEGRABBERSINK_IGNORE_CLOCK, TRUE);
        if (SUCCEEDED(hr)) hr = MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &out);
        if (SUCCEEDED(hr)) hr = out->SetObject(sink.Get());
        if (SUCCEEDED(hr)) hr = topology->AddNode(in.Get());
        if (SUCCEEDED(hr)) hr = topology->AddNode(out.Get());
        if (SUCCEEDED(hr)) hr = in->ConnectOutput(0, out.Get(), 0);
    }
    return hr;
}

HRESULT SetRate(IMFMediaSession* s, float rate) {
    PlatRef<IMFRateControl> control;
    HRESULT hr =
        MFGetService(s, MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(&control));
    return SUCCEEDED(hr) ? control->SetRate(FALSE, rate) : hr;
}

HRESULT Start(IMFMediaSession* s, bool at, LONGLONG position) {
    PROPVARIANT v;
    PropVariantInit(&v);
    if (at) {
        v.vt = VT_I8;
        v.hVal.QuadPart = position;
    }
    return s->Start(&GUID_NULL, &v);
}

bool Parse(const std::vector<std::string>& args, Options* o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        LONGLONG seconds = 0;
        if (a == "--start" && more && host::ParseSeconds(args[i + 1], &o->start)) {
            o->startAt = true;
            ++i;
        } else if (a == "--pause") {
            o->pause = true;
        } else if (a == "--no-clock") {
            o->clock = false;
        } else if (a == "--any-source") {
            o->anySource = true;
        } else if (a == "--rate" && more) {
            o->rate = std::strtof(args[++i].c_str(), nullptr);
        } else if (a == "--timeout" && more && host::ParseSeconds(args[i + 1], &seconds) && seconds > 0) {
            o->timeoutMs = static_cast<unsigned>(seconds / 10000);
            ++i;
        } else if (!a.empty() && a[0] != '-' && o->file.empty()) {
            o->file = a;
        } else {
            return false;
        }
    }
    return !o->file.empty();
}

// Plays the topology: the rate, the start, a pause and a resume once a sample has come, then the end.
HRESULT Play(IMFMediaSession* s, session::Events* events, const Options& o, std::mutex* lock, bool* sampled,
             const char** step) {
    auto seen = [](MediaEventType type, HRESULT status) {
        const char* name = SessionEventName(type);
        const std::string text = name ? name : std::to_string(static_cast<int>(type));
        std::printf("{\"type\": \"session\", \"name\": \"%s\", \"status\": \"%s\"}\n", text.c_str(),
                    host::HResultText(status).c_str());
    };
    constexpr unsigned kStepMs = 30000;
    HRESULT hr = events->WaitFor(MESessionTopologySet, kStepMs, seen);
    *step = "the topology was not set";
    if (SUCCEEDED(hr) && o.rate != 1.0f) {
        *step = "the rate was not set";
        hr = SetRate(s, o.rate);
        if (SUCCEEDED(hr)) hr = events->WaitFor(MESessionRateChanged, kStepMs, seen);
    }
    if (SUCCEEDED(hr)) {
        *step = "the session did not start";
        hr = Start(s, o.startAt, o.start);
        if (SUCCEEDED(hr)) hr = events->WaitFor(MESessionStarted, kStepMs, seen);
    }
    for (int waited = 0; SUCCEEDED(hr) && o.pause && waited < 6000;
         ++waited) { // up to 60 s for the first sample
        {
            std::lock_guard<std::mutex> hold(*lock);
            if (*sampled) break;
        }
        Sleep(10);
    }
    if (SUCCEEDED(hr) && o.pause) {
        *step = "the session did not pause and resume";
        hr = s->Pause();
        if (SUCCEEDED(hr)) hr = events->WaitFor(MESessionPaused, kStepMs, seen);
        if (SUCCEEDED(hr)) hr = Start(s, false, 0);
        if (SUCCEEDED(hr)) hr = events->WaitFor(MESessionStarted, kStepMs, seen);
    }
    if (SUCCEEDED(hr)) {
        *step = "the session did not end (no MESessionEnded)";
        hr = events->WaitFor(MESessionEnded, o.timeoutMs, seen);
    }
    return hr;
}
} // namespace

int SessionCommand(const std::vector<std::string>& args) {
    Options o;
    if (!Parse(args, &o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    PlatRef<IMFMediaSource> source;
    HRESULT hr = host::OpenFile(o.file, &source);
    if (FAILED(hr)) return Fail(o.file, "cannot be opened", hr);
    if (!o.anySource && !host::IsOggSource(source.Get())) {
        source->Shutdown();
        return Fail(o.file, "opened by another media source, not the Ogg source",
                    MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    }
    std::mutex lock;
    bool sampled = false;
    auto onSample = [&](const host::Sample& sample) {
        std::lock_guard<std::mutex> hold(lock);
        sampled = true;
        std::printf("%s\n", host::SampleLine(sample).c_str());
    };
    PlatRef<IMFPresentationDescriptor> pd;
    PlatRef<IMFTopology> topology;
    PlatRef<IMFMediaSession> session;
    PlatRef<session::Events> events;
    hr = source->CreatePresentationDescriptor(&pd);
    if (SUCCEEDED(hr)) hr = MFCreateTopology(&topology);
    if (SUCCEEDED(hr)) hr = BuildTopology(source.Get(), pd.Get(), topology.Get(), o.clock, onSample);
    if (SUCCEEDED(hr)) hr = MFCreateMediaSession(nullptr, &session);
    if (SUCCEEDED(hr)) {
        events.Attach(new (std::nothrow) session::Events(session.Get()));
        hr = events ? events->Listen() : E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) hr = session->SetTopology(0, topology.Get());
    const char* step = "the topology was not made";
    if (SUCCEEDED(hr)) hr = Play(session.Get(), events.Get(), o, &lock, &sampled, &step);
    const HRESULT played = hr;
    if (session) {
        session->Close(); // MESessionClosed, then the session can be shut down
        if (events) events->WaitFor(MESessionClosed, 10000, [](MediaEventType, HRESULT) {});
        session->Shutdown();
    }
    if (events) events->Stop();
    source->Shutdown();
    std::fflush(stdout);
    return FAILED(played) ? Fail(o.file, step, played) : 0;
}
