// A host that drives a source by hand, as pipelines do, and checks the invariants of runs as the events
// come: it polls every event queue (GetEvent without waiting, the source's queue first), so the order in
// which it sees events is the order in which the source queued them.
#pragma once
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "platform/com_impl.h"
#include "platform/platform.h"

// Reader threads alive in this process (they carry the name "ogg reader").
inline int ReaderThreadsNow() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            n += name == "ogg reader";
        }
        closedir(d);
    }
    return n;
}

// A reader ends once its read in hand has returned, after the shutdown that asked it to: the count it comes to (it
// is given ten seconds, the bound of a hang, not of a time).
inline int ReaderThreads() {
    for (int i = 0; i < 1000 && ReaderThreadsNow() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReaderThreadsNow();
}

class PollingHost {
public:
    struct StreamState {
        PlatRef<IMFMediaStream> stream;
        bool selected = false;
        bool started = false, stopped = false, ended = false;
        bool awaitFirst = false; // a new run: its first sample is still to come
        int headers = 0;
        int outstanding = 0;
        LONGLONG position = 0;   // where the run started (its first sample is at or before it)
        LONGLONG firstTime = -1; // that first sample's time
        std::vector<host::Sample> samples; // of the current run
        size_t total = 0;                  // of every run
        int run = 0;                       // the host's count of the run the stream is in
        std::set<int> endedRuns;           // the runs in which it ended
    };

    explicit PollingHost(IMFMediaSource* source) : m_source(source) { source->CreatePresentationDescriptor(&m_pd); }

    // How many requests each started stream keeps outstanding (0: the test asks itself).
    int requests = 2;
    // How far after its start position a run's first sample may be (100-ns units).
    LONGLONG lateBound = 0;
    std::vector<std::string> violations;
    std::map<DWORD, StreamState> streams;
    // The byte stream's read counter, when the test opened the source over a counting byte stream: nothing may start
    // reading it while the source is stopped (one read may have been on its way when the stop ran).
    PlatRef<IFaultByteStreamControl> reads;
    int endsOfPresentation = 0; // in the current run
    HRESULT expectedError = S_OK; // an MEError with this status is counted (errors), not a violation
    int errors = 0;
    int sourceRuns = 0;
    std::vector<MediaEventType> sourceEvents;

    IMFPresentationDescriptor* Pd() { return m_pd.Get(); }

    void Select(const std::vector<DWORD>& ids) {
        DWORD count = 0;
        m_pd->GetStreamDescriptorCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            BOOL selected = FALSE;
            PlatRef<IMFStreamDescriptor> sd;
            DWORD id = 0;
            m_pd->GetStreamDescriptorByIndex(i, &selected, &sd);
            sd->GetStreamIdentifier(&id);
            bool want = false;
            for (DWORD s : ids) want = want || s == id;
            want ? m_pd->SelectStream(i) : m_pd->DeselectStream(i);
        }
    }

    // A start at a position (VT_I8) begins a new run; a start from the current position (VT_EMPTY) does
    // so only from the stopped state.
    HRESULT StartAt(LONGLONG position) { return DoStart(true, position); }
    HRESULT Resume() { return DoStart(false, 0); }
    HRESULT Stop() {
        Note("host: stop");
        return m_source->Stop();
    }
    HRESULT Pause() {
        Note("host: pause");
        return m_source->Pause();
    }

    HRESULT SetRate(float rate) {
        PlatRef<IMFGetService> service;
        PlatRef<IMFRateControl> control;
        HRESULT hr = m_source->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&service));
        if (SUCCEEDED(hr)) hr = service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(&control));
        return SUCCEEDED(hr) ? control->SetRate(FALSE, rate) : hr;
    }

    HRESULT Request(DWORD id) {
        auto it = streams.find(id);
        if (it == streams.end() || !it->second.stream) return E_INVALIDARG;
        HRESULT hr = it->second.stream->RequestSample(nullptr);
        if (SUCCEEDED(hr)) ++it->second.outstanding;
        return hr;
    }

    // Polls every queue until pred holds (true) or the time is up (false).
    template <class Pred> bool PumpUntil(Pred pred, unsigned ms = 20000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred()) {
            if (!PollOnce() && std::chrono::steady_clock::now() > until) {
                std::fprintf(stderr, "%s", State().c_str()); // what the host saw, for the failure at hand
                return false;
            }
        }
        return true;
    }

    std::string State() {
        std::string s = "source events:";
        for (MediaEventType t : sourceEvents) s += " " + host::EventName(t);
        s += "\nruns " + std::to_string(sourceRuns) + ", ends of presentation " + std::to_string(endsOfPresentation) + "\n";
        for (auto& [id, st] : streams)
            s += "stream " + std::to_string(id) + ": selected " + std::to_string(st.selected) + " started " +
                 std::to_string(st.started) + " stopped " + std::to_string(st.stopped) + " ended " + std::to_string(st.ended) +
                 " outstanding " + std::to_string(st.outstanding) + " run samples " + std::to_string(st.samples.size()) +
                 " total " + std::to_string(st.total) + "\n";
        for (auto& v : violations) s += "violation: " + v + "\n";
        return s;
    }
    void PumpFor(unsigned ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) PollOnce();
    }
    // Until the end of the presentation of the last start asked for.
    bool PumpToEnd(unsigned ms = 30000) {
        return PumpUntil([this] { return m_expected.empty() && endsOfPresentation > 0; }, ms);
    }
    size_t SamplesOf(DWORD id) { return streams[id].samples.size(); }

private:
    struct Expected {
        bool newRun;
        LONGLONG position;
    };

    HRESULT DoStart(bool at, LONGLONG position) {
        PROPVARIANT v;
        PropVariantInit(&v);
        if (at) {
            v.vt = VT_I8;
            v.hVal.QuadPart = position;
        }
        CheckReadsWhileStopped();
        HRESULT hr = m_source->Start(m_pd.Get(), nullptr, &v);
        if (SUCCEEDED(hr)) m_expected.push_back({at || m_stopped, at ? position : 0});
        Note(at ? "host: start at " + std::to_string(position) : std::string("host: start"));
        return hr;
    }

    void Violation(const std::string& what) { violations.push_back(what + "\n" + Trail()); }
    // The last events the host handled, on every queue, for a violation's report.
    std::string Trail() const {
        std::string s;
        for (size_t i = m_trail.size() > 40 ? m_trail.size() - 40 : 0; i < m_trail.size(); ++i) s += "  " + m_trail[i] + "\n";
        return s;
    }
    void Note(const std::string& what) { m_trail.push_back(what); }
    uint64_t ReadCount() {
        uint64_t n = 0;
        if (reads) reads->GetCounters(&n, nullptr);
        return n;
    }
    void CheckReadsWhileStopped() {
        if (reads && m_stopped && m_readsAtStop != ~uint64_t(0) && ReadCount() > m_readsAtStop + 1)
            Violation("the byte stream was read while the source was stopped: " + std::to_string(ReadCount() - m_readsAtStop) +
                      " reads");
        m_readsAtStop = ~uint64_t(0);
    }

    // One pass over every queue; true when an event was handled.
    bool PollOnce() {
        bool any = DrainSource();
        for (auto& [id, s] : streams) any = Drain(id) || any;
        if (!any) std::this_thread::sleep_for(std::chrono::microseconds(200));
        return any;
    }

    bool DrainSource() {
        bool any = false;
        PlatRef<IMFMediaEvent> e;
        while (SUCCEEDED(m_source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e))) {
            any = true;
            OnSourceEvent(e.Get());
            e.Reset(nullptr);
        }
        return any;
    }

    bool Drain(DWORD id) {
        bool any = false;
        PlatRef<IMFMediaEvent> e;
        while (streams[id].stream && SUCCEEDED(streams[id].stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e))) {
            any = true;
            OnStreamEvent(id, e.Get());
            e.Reset(nullptr);
        }
        return any;
    }

    void OnSourceEvent(IMFMediaEvent* e) {
        MediaEventType type = MEUnknown;
        HRESULT status = S_OK;
        e->GetType(&type);
        e->GetStatus(&status);
        sourceEvents.push_back(type);
        Note("source " + host::EventName(type));
        if (type == MEError) {
            // Requests that reach a stream after its end or after a stop are refused from the call: an error
            // event is a failure of the play, unless the test made the data fail with that error.
            if (status == expectedError) ++errors;
            else Violation("MEError " + host::HResultText(status));
            return;
        }
        if (FAILED(status)) Violation(host::EventName(type) + " " + host::HResultText(status));
        if (type == MENewStream || type == MEUpdatedStream) {
            PROPVARIANT v;
            PropVariantInit(&v);
            e->GetValue(&v);
            PlatRef<IMFMediaStream> stream;
            if (v.vt == VT_UNKNOWN && v.punkVal) v.punkVal->QueryInterface(IID_IMFMediaStream, reinterpret_cast<void**>(&stream));
            PropVariantClear(&v);
            PlatRef<IMFStreamDescriptor> sd;
            DWORD id = 0;
            if (stream && SUCCEEDED(stream->GetStreamDescriptor(&sd))) sd->GetStreamIdentifier(&id);
            streams[id].stream = stream;
            m_selectedNow.push_back(id);
        } else if (type == MESourceStarted || type == MESourceSeeked) {
            if (m_expected.empty()) {
                Violation("a start that was not asked for");
                return;
            }
            m_current = m_expected.front();
            m_expected.erase(m_expected.begin());
            for (auto& [id, s] : streams) s.selected = false;
            for (DWORD id : m_selectedNow) streams[id].selected = true;
            m_selectedNow.clear();
            m_stopped = false;
            if (m_current.newRun) {
                ++sourceRuns;
                endsOfPresentation = 0;
            }
        } else if (type == MEEndOfPresentation) {
            // Every selected stream's end was queued before this: it must be there to read now (reading on may
            // also meet the start of a later run, so the run is noted first).
            const int run = sourceRuns;
            std::vector<DWORD> selected;
            for (auto& [id, s] : streams)
                if (s.selected) selected.push_back(id);
            if (++endsOfPresentation > 1) Violation("a second MEEndOfPresentation in one run");
            for (DWORD id : selected) Drain(id);
            for (DWORD id : selected)
                if (!streams[id].endedRuns.count(run))
                    Violation("MEEndOfPresentation before the MEEndOfStream of stream " + std::to_string(id));
        } else if (type == MESourceStopped) {
            m_stopped = true;
            m_readsAtStop = ReadCount();
        }
    }

    void OnStreamEvent(DWORD id, IMFMediaEvent* e) {
        StreamState& s = streams[id];
        MediaEventType type = MEUnknown;
        HRESULT status = S_OK;
        e->GetType(&type);
        e->GetStatus(&status);
        if (type != MEMediaSample) Note("stream " + std::to_string(id) + " " + host::EventName(type));
        if (FAILED(status)) Violation(host::EventName(type) + " " + host::HResultText(status) + " on stream " + std::to_string(id));
        switch (type) {
        case MEStreamStarted:
        case MEStreamSeeked:
            // The source queued its started or seeked event before this one; it may have come after the source's
            // queue was last read: read it now, so the run's start is known.
            DrainSource();
            s.started = true;
            s.stopped = false;
            s.outstanding = 0;
            if (m_current.newRun || s.run != sourceRuns) {
                // A new run, or a stream that joins the run on a resume (it was not selected when the run began):
                // its own run starts here (a joiner's first sample is where the presentation is, not at the run's
                // start position).
                const bool joins = !m_current.newRun;
                s.run = sourceRuns;
                s.ended = false;
                s.awaitFirst = !joins;
                s.headers = 0;
                s.position = m_current.position;
                s.firstTime = -1;
                s.samples.clear();
            }
            KeepRequesting(id);
            break;
        case MEStreamStopped: s.stopped = true; break;
        case MEEndOfStream:
            if (s.ended) Violation("a second MEEndOfStream in one run on stream " + std::to_string(id));
            s.ended = true;
            s.endedRuns.insert(s.run);
            break;
        case MEMediaSample: OnSample(id, e); break;
        default: break;
        }
    }

    void OnSample(DWORD id, IMFMediaEvent* e) {
        StreamState& s = streams[id];
        if (s.outstanding > 0) --s.outstanding;
        PROPVARIANT v;
        PropVariantInit(&v);
        e->GetValue(&v);
        PlatRef<IMFSample> sample;
        if (v.vt == VT_UNKNOWN && v.punkVal) v.punkVal->QueryInterface(IID_IMFSample, reinterpret_cast<void**>(&sample));
        PropVariantClear(&v);
        host::Sample x;
        host::ReadSample(sample.Get(), id, true, &x);
        const std::string where = "stream " + std::to_string(id) + " sample at " + std::to_string(x.time);
        Note(where + (x.discontinuity ? " discontinuity" : ""));
        if (s.stopped) Violation(where + " after MEStreamStopped");
        if (s.ended) Violation(where + " after MEEndOfStream");
        if (s.awaitFirst) {
            if (x.discontinuity) {
                s.awaitFirst = false;
                s.firstTime = x.time;
                if (x.time > s.position + lateBound)
                    Violation(where + ": the run's first sample is after its start position " + std::to_string(s.position));
            } else if (x.time == 0 && x.duration == 0 && s.headers < 3) {
                ++s.headers; // the codec's header samples go first
            } else {
                Violation(where + ": a sample of the run before comes after the run's start");
            }
        }
        s.samples.push_back(x);
        ++s.total;
        KeepRequesting(id);
    }

    void KeepRequesting(DWORD id) {
        StreamState& s = streams[id];
        while (requests > 0 && s.selected && !s.ended && !s.stopped && s.outstanding < requests &&
               SUCCEEDED(s.stream->RequestSample(nullptr)))
            ++s.outstanding;
    }

    IMFMediaSource* m_source;
    PlatRef<IMFPresentationDescriptor> m_pd;
    std::vector<Expected> m_expected;
    Expected m_current{false, 0};
    std::vector<DWORD> m_selectedNow;
    bool m_stopped = true;
    uint64_t m_readsAtStop = ~uint64_t(0);
    std::vector<std::string> m_trail;
};
