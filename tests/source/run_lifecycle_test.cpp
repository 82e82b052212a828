// What hosts do to a run that used to break it: streams selected or deselected on a resume, reads that fail or
// crawl while a stream ends, a packet larger than a stream may hold, samples a host keeps after the source is gone.
#include <gmock/gmock.h>
#include <thread>

#include "common/module_watch.h"
#include "common/fixtures.h"
#include "platform/alloc_fault.h"
#include "polling_host.h"

namespace {
// Vorbis 1 (a page every four packets, about 0.1 s) and Theora 2, 4 s each; OGM text 3 (four lines).
const char* kMux = R"({"seed": 9, "streams": [
    {"kind": "vorbis", "serial": 1, "seconds": 4, "flush_every": 4},
    {"kind": "theora", "serial": 2, "width": 96, "height": 64, "seconds": 4, "keyint": 10},
    {"kind": "ogm_text", "serial": 3, "packets": 4}]})";

// The samples of stream `id` in a full play from the start (its data: the Vorbis headers left out).
std::vector<host::Sample> FullPlay(const std::string& path, DWORD id) {
    OpenedSource s(path);
    host::PlayOptions o;
    o.streams = {id};
    std::vector<host::Sample> all = Of(host::Play(s.source.Get(), o), id);
    return id == 1 ? std::vector<host::Sample>(all.begin() + 3, all.end()) : all;
}

// The run must be a contiguous run of the full play up to its end.
void ExpectTailOf(const std::vector<host::Sample>& full, const std::vector<host::Sample>& run) {
    ASSERT_FALSE(run.empty());
    auto it = std::find_if(full.begin(), full.end(), [&](const host::Sample& s) { return s.crc == run[0].crc && s.time == run[0].time; });
    ASSERT_NE(it, full.end()) << "the first sample is no sample of the file: at " << run[0].time << ", crc " << run[0].crc;
    const size_t at = static_cast<size_t>(it - full.begin());
    ASSERT_EQ(run.size(), full.size() - at) << "lost or added";
    for (size_t i = 0; i < run.size(); ++i) EXPECT_EQ(run[i].crc, full[at + i].crc) << i;
}

// The samples of a stream's data (the Vorbis headers it is sent ahead left out).
std::vector<host::Sample> Data(const std::vector<host::Sample>& samples) {
    std::vector<host::Sample> v;
    for (const auto& s : samples)
        if (!(s.time == 0 && s.duration == 0 && !s.discontinuity && v.empty())) v.push_back(s);
    return v;
}
} // namespace

using RunLifecycle = SourceTest;

// A stream selected for the first time on a resume, and one deselected at a restart and selected again on a later
// resume: each delivers, from where the presentation is (not from 0), to the end.
TEST_F(RunLifecycle, StreamsSelectedOnAResumeDeliverFromWhereThePresentationIs) {
    Fixture f = MakeFile("join", kMux);
    const std::vector<host::Sample> vorbis = FullPlay(f.path, 1);
    for (bool afterRestart : {false, true}) {
        SCOPED_TRACE(afterRestart ? "deselected at a restart" : "never selected before");
        OpenedSource s(f.path);
        ASSERT_EQ(s.hr, S_OK);
        PollingHost h(s.source.Get());
        h.requests = 0; // the host asks for each sample itself: it pauses in the middle of the presentation
        auto take = [&](DWORD id, size_t count) {
            for (size_t n = h.SamplesOf(id) + count; h.SamplesOf(id) < n;) {
                ASSERT_EQ(h.Request(id), S_OK);
                const size_t want = h.SamplesOf(id) + 1;
                ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(id) >= want; }));
            }
        };
        if (afterRestart) {
            h.Select({1, 2});
            ASSERT_EQ(h.Resume(), S_OK);
            ASSERT_TRUE(h.PumpUntil([&] { return h.streams[1].started && h.streams[2].started; }));
            take(1, 10);
            h.Select({2});
            ASSERT_EQ(h.StartAt(0), S_OK);
            ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 2 && h.streams[2].started; }));
        } else {
            h.Select({2});
            ASSERT_EQ(h.Resume(), S_OK);
            ASSERT_TRUE(h.PumpUntil([&] { return h.streams[2].started; }));
        }
        take(2, 60); // to 2.4 s
        ASSERT_EQ(h.Pause(), S_OK);
        h.PumpFor(30);
        const LONGLONG at = h.streams[2].samples.back().time;
        h.Select({1, 2});
        h.requests = 2;
        ASSERT_EQ(h.Resume(), S_OK);
        ASSERT_TRUE(h.PumpToEnd()) << h.State();
        const std::vector<host::Sample> data = Data(h.streams[1].samples); // its run, from the resume on
        ASSERT_FALSE(data.empty()) << "the stream selected on the resume delivered nothing";
        EXPECT_TRUE(data[0].discontinuity);
        EXPECT_GT(data[0].time, at - 3000000) << "it begins near where the presentation is, not at the start";
        EXPECT_LE(data[0].time, at + 1000000);
        ExpectTailOf(vorbis, data);
        EXPECT_TRUE(h.streams[1].ended);
        EXPECT_THAT(h.violations, ::testing::IsEmpty());
    }
}

// A resume that deselects the only stream still playing ends the presentation: every stream still selected ended.
TEST_F(RunLifecycle, AResumeThatLeavesOnlyEndedStreamsEndsThePresentation) {
    Fixture f = MakeFile("deselect-last", R"({"seed": 5, "streams": [{"kind": "vorbis", "serial": 1, "seconds": 1},
        {"kind": "theora", "serial": 2, "width": 96, "height": 64, "seconds": 5, "keyint": 10}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    PollingHost h(s.source.Get());
    h.requests = 0; // the host asks itself: the audio to its end, the video only for its first samples
    h.Select({1, 2});
    ASSERT_EQ(h.Resume(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return h.streams[1].started && h.streams[2].started; }));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(h.Request(2), S_OK);
    while (!h.streams[1].ended) {
        ASSERT_EQ(h.Request(1), S_OK);
        const size_t want = h.SamplesOf(1) + 1;
        ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) >= want || h.streams[1].ended; }));
    }
    ASSERT_EQ(h.Pause(), S_OK);
    h.PumpFor(20);
    ASSERT_EQ(h.endsOfPresentation, 0);
    h.Select({1});
    ASSERT_EQ(h.Resume(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return h.endsOfPresentation == 1; })) << h.State();
    EXPECT_THAT(h.violations, ::testing::IsEmpty());
}

// Reads that fail right after the open, or crawl: no sample after a stream's MEEndOfStream or after the
// MEEndOfPresentation, one end per stream, the presentation ends (looped: the order of the work that ends a stream
// and of the requests for data used to vary).
TEST_F(RunLifecycle, NoSampleAfterTheEndWhenReadsFailOrCrawl) {
    Fixture f = MakeFile("failing-reads", R"({"seed": 3, "streams": [{"kind": "vorbis", "serial": 1, "seconds": 3},
        {"kind": "ogm_text", "serial": 2, "packets": 6}]})");
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        PlatRef<IFaultByteStreamControl> control;
        OpenedSource s(CountingStream(f.path, &control).Get());
        ASSERT_EQ(s.hr, S_OK);
        uint64_t reads = 0;
        control->GetCounters(&reads, nullptr);
        FaultConfig c;
        if (i % 2 == 0) {
            c.failReadIndex = static_cast<long>(reads) + i % 5;
            c.failAllAfter = true;
        } else {
            c.readDelayMicros = 300;
            c.shortReadLimit = 3000 + 700 * static_cast<ULONG>(i);
        }
        control->Reconfigure(c);
        PollingHost h(s.source.Get());
        h.expectedError = E_FAIL;
        h.Select({1, 2});
        ASSERT_EQ(h.Resume(), S_OK);
        ASSERT_TRUE(h.PumpToEnd()) << h.State();
        h.PumpFor(5);
        EXPECT_EQ(h.endsOfPresentation, 1);
        uint64_t after = 0;
        control->GetCounters(&after, nullptr);
        const bool readFailed = i % 2 == 0 && after > static_cast<uint64_t>(c.failReadIndex);
        EXPECT_EQ(h.errors, readFailed ? 1 : 0) << "a failing read is told once; slow ones are no failure";
        EXPECT_THAT(h.violations, ::testing::IsEmpty());
    }
}

// A packet larger than a stream may hold (64 MB) ends its stream with an error the host hears of; one below plays.
TEST_F(RunLifecycle, APacketBeyondTheLimitEndsItsStreamWithAnError) {
#ifdef OGGSOURCE_TSAN
    const int sizes[] = {20}; // 65 MB through TSan's instrumented copies takes minutes
#else
    const int sizes[] = {20, 65};
#endif
    for (int mb : sizes) {
        SCOPED_TRACE(mb);
        Fixture f = MakeFile("huge-" + std::to_string(mb), R"({"streams": [{"kind": "ogm_video", "serial": 4, "packets": 3,
            "packet_size": 1000, "key_every": 100, "key_size": )" + std::to_string(mb << 20) + "}]}");
        OpenedSource s(f.path);
        ASSERT_EQ(s.hr, S_OK);
        host::PlayOptions o;
        o.checksums = false;
        host::PlayResult r = host::Play(s.source.Get(), o);
        if (mb == 20) {
            ASSERT_EQ(r.status, S_OK);
            ASSERT_EQ(r.samples.size(), 3u);
            EXPECT_EQ(r.samples[0].size, 20u << 20);
        } else {
            EXPECT_EQ(r.status, MF_E_INVALID_FILE_FORMAT) << host::HResultText(r.status);
            EXPECT_TRUE(r.samples.empty());
        }
        unlink(f.path.c_str());
    }
}

// A sample the host keeps after it let the source and its streams go keeps the module loaded: its buffer is the
// module's code.
TEST_F(RunLifecycle, AHeldSampleKeepsTheModuleLoaded) {
    Fixture f = MakeFile("held-sample", kMux);
    ModuleWatch module;
    ASSERT_TRUE(module.Loaded());
    ASSERT_TRUE(module.Unloadable());
    PlatRef<IMFSample> kept;
    {
        OpenedSource s(f.path);
        ASSERT_EQ(s.hr, S_OK);
        PollingHost h(s.source.Get());
        h.Select({1});
        h.requests = 0;
        ASSERT_EQ(h.Resume(), S_OK);
        ASSERT_TRUE(h.PumpUntil([&] { return h.streams[1].started; }));
        ASSERT_EQ(h.streams[1].stream->RequestSample(nullptr), S_OK);
        for (;;) {
            PlatRef<IMFMediaEvent> e;
            ASSERT_EQ(h.streams[1].stream->GetEvent(0, &e), S_OK);
            MediaEventType t;
            e->GetType(&t);
            if (t != MEMediaSample) continue;
            PROPVARIANT v;
            PropVariantInit(&v);
            e->GetValue(&v);
            v.punkVal->QueryInterface(IID_IMFSample, reinterpret_cast<void**>(&kept));
            PropVariantClear(&v);
            break;
        }
    }
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "a sample of the module is alive";
    PlatRef<IMFMediaBuffer> buffer;
    ASSERT_EQ(kept->ConvertToContiguousBuffer(&buffer), S_OK);
    buffer.Reset(nullptr);
    kept.Reset(nullptr);
    EXPECT_TRUE(module.Unloadable());
}

// A read held in the byte stream (a stalled server, a sleeping disk): every host call returns at once, Shutdown
// included, while the read is still blocked; the module stays loaded until the read has returned and the reader
// has let go, then it may be unloaded.
TEST_F(RunLifecycle, HostCallsAndShutdownReturnWhileAReadIsHeld) {
    Fixture f = MakeFile("held-read", kMux);
    ModuleWatch module;
    ASSERT_TRUE(module.Loaded());
    ASSERT_TRUE(module.Unloadable());
    PlatRef<IFaultByteStreamControl> control;
    {
        OpenedSource s(CountingStream(f.path, &control).Get());
        ASSERT_EQ(s.hr, S_OK);
        control->HoldReads(true);
        PollingHost h(s.source.Get());
        h.Select({1, 2});
        ASSERT_EQ(h.Resume(), S_OK);
        control->WaitForHeldReads(1); // the reader's first read waits at the gate
        ASSERT_TRUE(h.PumpUntil([&] { return h.streams[1].started && h.streams[2].started; }));
        DWORD characteristics = 0;
        EXPECT_EQ(s->GetCharacteristics(&characteristics), S_OK);
        EXPECT_EQ(h.Request(1), S_OK);
        EXPECT_EQ(h.Pause(), S_OK);
        EXPECT_EQ(h.SetRate(2.0f), S_OK);
        EXPECT_EQ(h.StartAt(10000000), S_OK);
        EXPECT_EQ(h.Stop(), S_OK);
        PlatRef<IMFPresentationDescriptor> pd;
        EXPECT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
        EXPECT_EQ(s->Shutdown(), S_OK);
        EXPECT_EQ(control->HeldReads(), 1u) << "every call returned while the read was still held";
        EXPECT_EQ(s->Start(pd.Get(), nullptr, nullptr), E_INVALIDARG);
        EXPECT_EQ(h.Stop(), MF_E_SHUTDOWN);
    }
    // The host let everything go; the reader is still in its read: the module's code is in use.
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "a reader in a read keeps the module loaded";
    control->HoldReads(false);
    EXPECT_TRUE(module.Unloadable()) << "the reader ended once its read returned";
}
