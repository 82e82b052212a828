// Seeking: from the stopped state, while playing and while paused; the samples after a seek are a contiguous
// run of an unseeked play. Rate control.
#include <algorithm>
#include <cstdio>

#include "common/fixtures.h"

namespace {
const char* kMux = R"({"seed": 4, "streams": [
    {"kind": "vorbis", "serial": 1, "seconds": 6},
    {"kind": "theora", "serial": 2, "width": 160, "height": 120, "seconds": 6, "keyint": 12},
    {"kind": "ogm_video", "serial": 3, "packets": 150, "packet_size": 1500, "key_every": 10},
    {"kind": "ogm_audio", "serial": 4, "packets": 200, "packet_size": 300}]})";
const std::vector<DWORD> kAll = {1, 2, 3, 4};


// The samples of a stream from its last discontinuity on, without the Vorbis header samples before it.
std::vector<host::Sample> LastRun(const std::vector<host::Sample>& stream) {
    size_t at = stream.size();
    for (size_t i = stream.size(); i-- > 0;) {
        if (stream[i].discontinuity) {
            at = i;
            break;
        }
    }
    return std::vector<host::Sample>(stream.begin() + static_cast<long>(at), stream.end());
}

// The run must be found, in order and whole, in the unseeked play; returns its first sample's time.
void ExpectContiguous(const std::vector<host::Sample>& full, const std::vector<host::Sample>& run, DWORD id,
                      LONGLONG target, LONGLONG bound, bool keyed) {
    SCOPED_TRACE("stream " + std::to_string(id) + " target " + std::to_string(target));
    if (run.empty()) return; // a target at the end: nothing left to play
    auto it = std::find_if(full.begin(), full.end(), [&](const host::Sample& s) {
        return s.crc == run[0].crc && s.time == run[0].time;
    });
    ASSERT_NE(it, full.end()) << "the first sample after the seek is not a sample of the file";
    size_t start = static_cast<size_t>(it - full.begin());
    ASSERT_EQ(full.size() - start, run.size()) << "samples lost or added after the seek";
    for (size_t i = 0; i < run.size(); ++i) {
        EXPECT_EQ(run[i].crc, full[start + i].crc) << i;
        EXPECT_EQ(run[i].time, full[start + i].time) << i;
    }
    if (keyed) {
        EXPECT_TRUE(run[0].clean) << "video resumes at a key frame";
    }
    EXPECT_LE(run[0].time, target + bound) << "first sample after the target by more than the bound";
    std::printf("  pre-roll stream %u target %.3f s: first sample %.3f s (%+.3f s)\n", id, target / 1e7,
                run[0].time / 1e7, (run[0].time - target) / 1e7);
}

LONGLONG FirstStart(IMFMediaSource* source) {
    nlohmann::json j = Probe(source);
    LONGLONG first = 0x7fffffffffffffffLL;
    for (const auto& s : j["streams"]) first = std::min<LONGLONG>(first, s["start"].get<int64_t>());
    return first;
}
} // namespace

using SeekTest = SourceTest;

TEST_F(SeekTest, FromTheStoppedStateTheRunIsContiguous) {
    Fixture f = MakeFile("seek", kMux);
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    host::PlayOptions all;
    all.streams = kAll;
    host::PlayResult full = host::Player(s.source.Get()).Play(all);
    ASSERT_TRUE(full.endOfPresentation);
    const LONGLONG firstStart = FirstStart(s.source.Get());
    for (LONGLONG target : {5000000LL, 30000000LL, 52000000LL}) {
        OpenedSource t(f.path);
        host::PlayOptions o = all;
        o.startAt = true;
        o.start = target;
        host::PlayResult r = host::Play(t.source.Get(), o);
        ASSERT_TRUE(r.endOfPresentation);
        EXPECT_EQ(std::count(r.sourceEvents.begin(), r.sourceEvents.end(), MESourceSeeked), 1);
        EXPECT_EQ(std::count(r.sourceEvents.begin(), r.sourceEvents.end(), MESourceStarted), 0);
        EXPECT_EQ(r.streamEvents[1].front(), MEStreamSeeked);
        // Vorbis and Theora resume at or before the target, shifted by the first start; OGM video
        // resumes at the first key frame after the first packet that carries a granule position.
        ExpectContiguous(Of(full.samples, 1), LastRun(Of(r.samples, 1)), 1, target, firstStart, false);
        ExpectContiguous(Of(full.samples, 2), LastRun(Of(r.samples, 2)), 2, target, firstStart, true);
        ExpectContiguous(Of(full.samples, 3), LastRun(Of(r.samples, 3)), 3, target, firstStart + 20000000, true);
        ExpectContiguous(Of(full.samples, 4), LastRun(Of(r.samples, 4)), 4, target, firstStart + 5000000, false);
        auto vorbis = Of(r.samples, 1);
        ASSERT_GE(vorbis.size(), 4u);
        EXPECT_EQ(vorbis[0].time, 0) << "the Vorbis headers come first after a seek too";
        EXPECT_FALSE(vorbis[2].discontinuity);
        EXPECT_TRUE(vorbis[3].discontinuity);
    }
}

TEST_F(SeekTest, WhilePlayingAndWhilePaused) {
    Fixture f = MakeFile("seek-live", kMux);
    host::PlayResult full;
    {
        OpenedSource s(f.path);
        host::PlayOptions all;
        all.streams = kAll;
        full = host::Play(s.source.Get(), all);
    }
    {
        OpenedSource s(f.path);
        LONGLONG firstStart = FirstStart(s.source.Get());
        host::PlayOptions o;
        o.streams = kAll;
        o.seekWhen = 10000000; // at 1 s...
        o.seekTo = 40000000;   // ...go to 4 s
        host::PlayResult r = host::Play(s.source.Get(), o);
        ASSERT_TRUE(r.endOfPresentation);
        EXPECT_EQ(std::count(r.sourceEvents.begin(), r.sourceEvents.end(), MESourceSeeked), 1);
        ExpectContiguous(Of(full.samples, 1), LastRun(Of(r.samples, 1)), 1, 40000000, firstStart, false);
        ExpectContiguous(Of(full.samples, 2), LastRun(Of(r.samples, 2)), 2, 40000000, firstStart, true);
        ExpectContiguous(Of(full.samples, 3), LastRun(Of(r.samples, 3)), 3, 40000000, firstStart + 20000000, true);
        // And backwards, from 4.5 s to 0.5 s.
        o.seekWhen = 45000000;
        o.seekTo = 5000000;
        OpenedSource b(f.path);
        host::PlayResult back = host::Play(b.source.Get(), o);
        ASSERT_TRUE(back.endOfPresentation);
        ExpectContiguous(Of(full.samples, 2), LastRun(Of(back.samples, 2)), 2, 5000000, firstStart, true);
        ExpectContiguous(Of(full.samples, 4), LastRun(Of(back.samples, 4)), 4, 5000000, firstStart + 5000000, false);
    }
    {
        OpenedSource s(f.path);
        LONGLONG firstStart = FirstStart(s.source.Get());
        host::Player player(s.source.Get());
        host::PlayOptions o;
        o.streams = kAll;
        o.maxSamples = 40;
        player.Play(o);
        ASSERT_EQ(s->Pause(), S_OK);
        o.maxSamples = 0;
        o.startAt = true;
        o.start = 30000000;
        host::PlayResult r = player.Play(o);
        ASSERT_TRUE(r.endOfPresentation);
        ExpectContiguous(Of(full.samples, 2), LastRun(Of(r.samples, 2)), 2, 30000000, firstStart, true);
        ExpectContiguous(Of(full.samples, 1), LastRun(Of(r.samples, 1)), 1, 30000000, firstStart, false);
    }
}

TEST_F(SeekTest, EdgesOfTheSearch) {
    Fixture f = MakeFile("seek-edges", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 4},
        {"kind": "ogm_video", "serial": 2, "packets": 100, "packet_size": 1500}]})");
    // Beyond the stop position: the readers go to the end, the streams end at once.
    {
        OpenedSource s(f.path);
        host::PlayOptions o;
        o.startAt = true;
        o.start = 0x7ffffffffffffLL;
        host::PlayResult r = host::Play(s.source.Get(), o);
        EXPECT_TRUE(r.endOfPresentation);
        for (const auto& sm : r.samples) EXPECT_EQ(sm.time, 0) << "only Vorbis headers, no data";
    }
    // The search runs on the reader, after MESourceSeeked: its reads are counted up to the first sample of the run.
    // Twice to the same target: the same first sample.
    {
        PlatRef<IFaultByteStreamControl> control;
        OpenedSource s(CountingStream(f.path, &control).Get());
        ASSERT_EQ(s.hr, S_OK);
        PlatRef<IMFPresentationDescriptor> pd;
        s->CreatePresentationDescriptor(&pd);
        PlatRef<IMFMediaStream> video;
        auto waitFor = [&](MediaEventType want) {
            for (;;) {
                PlatRef<IMFMediaEvent> e;
                if (FAILED(s->GetEvent(0, &e))) return false;
                MediaEventType t;
                e->GetType(&t);
                PROPVARIANT v;
                PropVariantInit(&v);
                e->GetValue(&v);
                if ((t == MENewStream || t == MEUpdatedStream) && v.vt == VT_UNKNOWN) {
                    PlatRef<IMFMediaStream> m;
                    v.punkVal->QueryInterface(IID_IMFMediaStream, reinterpret_cast<void**>(&m));
                    DWORD id = 0;
                    PlatRef<IMFStreamDescriptor> sd;
                    m->GetStreamDescriptor(&sd);
                    sd->GetStreamIdentifier(&id);
                    if (id == 2) video = m;
                }
                PropVariantClear(&v);
                if (t == want) return true;
            }
        };
        auto firstSample = [&]() { // the video's first sample of the run (its time): the search is over by then
            EXPECT_EQ(video->RequestSample(nullptr), S_OK);
            for (;;) {
                PlatRef<IMFMediaEvent> e;
                if (FAILED(video->GetEvent(0, &e))) return LONGLONG(-1);
                MediaEventType t;
                e->GetType(&t);
                if (t != MEMediaSample) continue;
                PROPVARIANT v;
                PropVariantInit(&v);
                e->GetValue(&v);
                PlatRef<IMFSample> sample;
                v.punkVal->QueryInterface(IID_IMFSample, reinterpret_cast<void**>(&sample));
                PropVariantClear(&v);
                LONGLONG time = -1;
                sample->GetSampleTime(&time);
                return time;
            }
        };
        PROPVARIANT at;
        PropVariantInit(&at);
        at.vt = VT_I8;
        at.hVal.QuadPart = 20000000;
        uint64_t before = 0, after = 0, again = 0;
        control->GetCounters(&before, nullptr);
        ASSERT_EQ(s->Start(pd.Get(), nullptr, &at), S_OK);
        ASSERT_TRUE(waitFor(MESourceSeeked));
        const LONGLONG first = firstSample();
        ASSERT_GT(first, 0);
        EXPECT_LE(first, 20000000);
        control->GetCounters(&after, nullptr);
        EXPECT_GT(after, before) << "the first search reads";
        ASSERT_EQ(s->Stop(), S_OK);
        ASSERT_TRUE(waitFor(MESourceStopped));
        ASSERT_EQ(s->Start(pd.Get(), nullptr, &at), S_OK);
        ASSERT_TRUE(waitFor(MESourceSeeked));
        EXPECT_EQ(firstSample(), first);
        control->GetCounters(&again, nullptr);

        // A byte stream that fails during the search: the seek still completes.
        ASSERT_EQ(s->Stop(), S_OK);
        ASSERT_TRUE(waitFor(MESourceStopped));
        FaultConfig c;
        c.failReadIndex = static_cast<long>(again);
        c.failAllAfter = true;
        control->Reconfigure(c);
        at.hVal.QuadPart = 30000000;
        ASSERT_EQ(s->Start(pd.Get(), nullptr, &at), S_OK);
        ASSERT_TRUE(waitFor(MESourceSeeked));
    }
}

TEST_F(SeekTest, RateControl) {
    Fixture f = MakeFile("rate-api", R"({"streams": [{"kind": "ogm_video", "serial": 2, "packets": 10}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IMFGetService> service;
    ASSERT_EQ(s->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&service)), S_OK);
    PlatRef<IMFRateControl> rc;
    PlatRef<IMFRateSupport> rs;
    ASSERT_EQ(service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(&rc)), S_OK);
    ASSERT_EQ(service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateSupport, reinterpret_cast<void**>(&rs)), S_OK);
    PlatRef<IMFMediaSource> same;
    ASSERT_EQ(service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFMediaSource, reinterpret_cast<void**>(&same)), S_OK);
    EXPECT_EQ(same.Get(), s.source.Get());
    PlatRef<IUnknown> none;
    EXPECT_EQ(service->GetService(MF_PD_DURATION, IID_IMFRateControl, reinterpret_cast<void**>(&none)),
              MF_E_UNSUPPORTED_SERVICE);

    float r = -1;
    EXPECT_EQ(rs->GetSlowestRate(MFRATE_FORWARD, FALSE, &r), S_OK);
    EXPECT_EQ(r, 0.0f);
    EXPECT_EQ(rs->GetFastestRate(MFRATE_FORWARD, FALSE, &r), S_OK);
    EXPECT_EQ(r, 3.0f);
    EXPECT_EQ(rs->GetFastestRate(MFRATE_REVERSE, FALSE, &r), MF_E_REVERSE_UNSUPPORTED);
    EXPECT_EQ(rs->GetSlowestRate(MFRATE_REVERSE, TRUE, &r), MF_E_THINNING_UNSUPPORTED);
    EXPECT_EQ(rs->IsRateSupported(FALSE, 0.25f, nullptr), S_OK);
    EXPECT_EQ(rs->IsRateSupported(FALSE, 0.3f, nullptr), MF_E_UNSUPPORTED_RATE);
    EXPECT_EQ(rs->IsRateSupported(FALSE, -1.0f, nullptr), MF_E_REVERSE_UNSUPPORTED);
    EXPECT_EQ(rs->IsRateSupported(TRUE, 2.0f, nullptr), MF_E_THINNING_UNSUPPORTED);

    auto lastRateEvent = [&](float* value) {
        PlatRef<IMFMediaEvent> e;
        while (SUCCEEDED(s->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e))) {
            MediaEventType t;
            e->GetType(&t);
            PROPVARIANT v;
            PropVariantInit(&v);
            e->GetValue(&v);
            if (t == MESourceRateChanged && v.vt == VT_R4) {
                *value = v.fltVal;
                return true;
            }
        }
        return false;
    };
    EXPECT_EQ(rc->SetRate(FALSE, 1.5f), MF_E_UNSUPPORTED_RATE);
    EXPECT_EQ(rc->SetRate(FALSE, -1.0f), MF_E_REVERSE_UNSUPPORTED);
    EXPECT_FALSE(lastRateEvent(&r)) << "refusals queue nothing";
    EXPECT_EQ(rc->SetRate(FALSE, 1.0f), S_OK);
    ASSERT_TRUE(lastRateEvent(&r)) << "the initial rate again still announces it";
    EXPECT_EQ(r, 1.0f);
    EXPECT_EQ(rc->SetRate(TRUE, 2.0f), S_OK) << "thinning asked for is ignored";
    ASSERT_TRUE(lastRateEvent(&r));
    EXPECT_EQ(r, 2.0f);
    EXPECT_EQ(rc->SetRate(FALSE, 0.0f), S_OK);
    BOOL thin = 7;
    EXPECT_EQ(rc->GetRate(&thin, &r), S_OK);
    EXPECT_EQ(r, 1.0f) << "a stored 0.0 reads as 1.0";
    EXPECT_EQ(thin, 7) << "the thin flag is not written";
    s->Shutdown();
    EXPECT_EQ(rc->SetRate(FALSE, 2.0f), MF_E_SHUTDOWN);
    EXPECT_EQ(rc->GetRate(nullptr, &r), MF_E_SHUTDOWN);
}
