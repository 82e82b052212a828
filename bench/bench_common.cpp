#include "bench_common.h"

#include <algorithm>
#include <cstdio>

namespace bench {

Counted::Counted(const char* path) {
    PlatRef<IMFByteStream> file;
    MFCreateFileByteStreamA(path, &file);
    if (file) MFCreateFaultByteStream(file.Get(), nullptr, &stream);
    if (stream) stream->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control));
}

bool WaitFor(IMFMediaSource* source, MediaEventType want) {
    for (;;) {
        PlatRef<IMFMediaEvent> e;
        if (FAILED(source->GetEvent(0, &e))) return false;
        MediaEventType t;
        HRESULT status;
        e->GetType(&t);
        e->GetStatus(&status);
        if (t == want) return SUCCEEDED(status);
    }
}

bool Announced(IMFMediaSource* source, std::vector<PlatRef<IMFMediaStream>>* streams) {
    streams->clear();
    for (;;) {
        PlatRef<IMFMediaEvent> e;
        if (FAILED(source->GetEvent(0, &e))) return false;
        MediaEventType t;
        HRESULT status;
        e->GetType(&t);
        e->GetStatus(&status);
        if (FAILED(status)) return false;
        if (t == MENewStream || t == MEUpdatedStream) {
            PlatRef<IMFMediaStream> stream = EventObject<IMFMediaStream>(e.Get(), IID_IMFMediaStream);
            if (stream) streams->push_back(stream);
        }
        if (t == MESourceSeeked || t == MESourceStarted) return true;
    }
}

void CallTimes::Add(const std::string& call, double ms, HRESULT hr) {
    auto it = std::find_if(m_calls.begin(), m_calls.end(), [&](const Call& c) { return c.name == call; });
    if (it == m_calls.end()) it = m_calls.insert(m_calls.end(), Call{call, {}, 0, S_OK});
    it->times.push_back(ms);
    if (FAILED(hr) && it->refused++ == 0) it->firstRefusal = hr;
}

void CallTimes::Print() const {
    std::printf("| call | calls | max ms | median ms | refused |\n|---|---|---|---|---|\n");
    for (const Call& c : m_calls) {
        std::vector<double> sorted = c.times;
        std::sort(sorted.begin(), sorted.end());
        const std::string refused =
            c.refused ? std::to_string(c.refused) + " (" + host::HResultText(c.firstRefusal) + ")" : "0";
        std::printf("| %s | %zu | %.3f | %.3f | %s |\n", c.name.c_str(), sorted.size(), sorted.back(),
                    sorted[sorted.size() / 2], refused.c_str());
    }
}

double CallTimes::MaxMs(const std::string& call) const {
    for (const Call& c : m_calls)
        if (c.name == call) return *std::max_element(c.times.begin(), c.times.end());
    return -1;
}

double CallTimes::MaxMsExcept(const std::string& call, std::string* name) const {
    double slowest = -1;
    for (const Call& c : m_calls) {
        const double t = *std::max_element(c.times.begin(), c.times.end());
        if (c.name != call && t > slowest) slowest = t, *name = c.name;
    }
    return slowest;
}

void PrintTargets(const CallTimes& times) {
    std::string slowest;
    const double call = times.MaxMsExcept("Shutdown", &slowest), shutdown = times.MaxMs("Shutdown");
    std::printf("Against the targets: the slowest call, %s, took %.3f ms (under 50 ms: %s); Shutdown took "
                "%.3f ms (under 100 ms: %s).\n",
                slowest.c_str(), call, call < 50 ? "yes" : "NO", shutdown,
                shutdown < 0     ? "not made"
                : shutdown < 100 ? "yes"
                                 : "NO");
}
} // namespace bench
