// What the subcommands of oggbench share: the clock, a byte stream that counts and holds reads, the events
// a start announces, and the table of host-call times.
#pragma once
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "host.h"

namespace bench {
using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A file read through the fault byte stream, which counts reads and bytes and can hold reads at its gate.
struct Counted {
    PlatRef<IMFByteStream> stream;
    PlatRef<IFaultByteStreamControl> control;
    explicit Counted(const char* path);
    void Counters(uint64_t* reads, uint64_t* bytes) { control->GetCounters(reads, bytes); }
};

// Waits (GetEvent) for the source's event of this type; false when it fails or GetEvent does.
bool WaitFor(IMFMediaSource* source, MediaEventType want);

// The media streams a start announces, up to the source's started or seeked event.
bool Announced(IMFMediaSource* source, std::vector<PlatRef<IMFMediaStream>>* streams);

// The object an event carries (VT_UNKNOWN) as the interface asked for; empty when it carries none.
template <class T> PlatRef<T> EventObject(IMFMediaEvent* event, REFIID iid) {
    PlatRef<T> out;
    PROPVARIANT v;
    PropVariantInit(&v);
    event->GetValue(&v);
    if (v.vt == VT_UNKNOWN && v.punkVal) v.punkVal->QueryInterface(iid, reinterpret_cast<void**>(&out));
    PropVariantClear(&v);
    return out;
}

// How long host calls took, per call, in the order the calls were first made.
class CallTimes {
public:
    // hr: what the call returned (a refusal is timed too, and counted).
    void Add(const std::string& call, double ms, HRESULT hr = S_OK);
    // Times f, which returns the call's HRESULT.
    template <class F> HRESULT Time(const std::string& call, F&& f) {
        const auto t0 = Clock::now();
        const HRESULT hr = f();
        Add(call, Ms(Clock::now() - t0), hr);
        return hr;
    }
    // "| call | calls | max ms | median ms | refused |" rows, a Markdown table.
    void Print() const;
    // The slowest time of one call (-1 when it was not made), and of every call but that one (its name
    // into *name).
    double MaxMs(const std::string& call) const;
    double MaxMsExcept(const std::string& call, std::string* name) const;

private:
    struct Call {
        std::string name;
        std::vector<double> times;
        unsigned refused = 0;
        HRESULT firstRefusal = S_OK;
    };
    std::vector<Call> m_calls;
};

// The times against the targets a host can live with: every call under 50 ms, Shutdown under 100 ms.
void PrintTargets(const CallTimes& times);
} // namespace bench
