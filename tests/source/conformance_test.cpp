// The run lifecycle as hosts drive it: restarts at 0 and at a position while running and paused, stops with
// requests outstanding, ends of streams that cross a restart, rate and selection changes between runs,
// shutdown at every point, and the module's lifetime. The polling host checks the invariants of runs as the
// events come (no sample of an earlier run after a new run's start, one end of presentation per run after
// every selected stream's end, no read of the byte stream begun while stopped).
#include <algorithm>
#include <atomic>
#include <gmock/gmock.h>
#include <thread>

#include "common/module_watch.h"
#include "common/fixtures.h"
#include "common/shell.h"
#include "polling_host.h"

namespace {
const char* kMux = R"({"seed": 9, "streams": [
    {"kind": "vorbis", "serial": 1, "seconds": 4},
    {"kind": "theora", "serial": 2, "width": 96, "height": 64, "seconds": 4, "keyint": 10},
    {"kind": "ogm_text", "serial": 3, "packets": 4}]})";
const std::vector<DWORD> kAll = {1, 2, 3};

size_t CountOf(const std::vector<MediaEventType>& events, MediaEventType type) {
    return static_cast<size_t>(std::count(events.begin(), events.end(), type));
}

// How far after its start position a restarted run may begin (the search lands on the page before).
constexpr LONGLONG kLate = 20000000;
} // namespace

using Conformance = SourceTest;

TEST_F(Conformance, RestartsAtZeroAndAtAPositionWhileRunningAndWhilePaused) {
    Fixture f = MakeFile("restarts", kMux);
    PlatRef<IFaultByteStreamControl> reads;
    OpenedSource s(CountingStream(f.path, &reads).Get());
    ASSERT_EQ(s.hr, S_OK);
    PollingHost h(s.source.Get());
    h.reads = reads;
    h.lateBound = kLate;
    h.Select(kAll);
    ASSERT_EQ(h.Resume(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) > 40; }));
    ASSERT_EQ(h.StartAt(0), S_OK); // while running, back to the start: no sample of the run before may follow
    ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 2 && h.SamplesOf(1) > 40 && h.SamplesOf(2) > 5; }));
    EXPECT_EQ(h.streams[1].firstTime, 0);
    EXPECT_EQ(h.streams[2].firstTime, 0);
    ASSERT_EQ(h.StartAt(20000000), S_OK); // while running, to 2 s
    ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 3 && h.SamplesOf(2) > 5; }));
    ASSERT_EQ(h.Pause(), S_OK);
    h.PumpFor(100);
    ASSERT_EQ(h.StartAt(0), S_OK); // while paused
    ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 4 && h.SamplesOf(1) > 20; }));
    ASSERT_EQ(h.Pause(), S_OK);
    h.PumpFor(50);
    ASSERT_EQ(h.Resume(), S_OK); // a resume continues the run
    ASSERT_TRUE(h.PumpToEnd());
    EXPECT_EQ(h.sourceRuns, 4);
    const size_t restarted = h.SamplesOf(1), restartedVideo = h.SamplesOf(2);
    // The run that began with the restart at 0 while paused is whole: a run from the stopped state has as much.
    ASSERT_EQ(h.Stop(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return CountOf(h.sourceEvents, MESourceStopped) == 1; }));
    ASSERT_EQ(h.Resume(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 5 && h.endsOfPresentation == 1; }));
    EXPECT_EQ(h.SamplesOf(1), restarted);
    EXPECT_EQ(h.SamplesOf(2), restartedVideo);
    EXPECT_THAT(h.violations, ::testing::IsEmpty());
}

TEST_F(Conformance, StopWithRequestsOutstandingThenStartAgain) {
    Fixture f = MakeFile("stop-requests", kMux);
    PlatRef<IFaultByteStreamControl> reads;
    OpenedSource s(CountingStream(f.path, &reads).Get());
    ASSERT_EQ(s.hr, S_OK);
    PollingHost h(s.source.Get());
    h.reads = reads;
    h.lateBound = kLate;
    h.Select(kAll);
    size_t whole = 0;
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(h.Resume(), S_OK);
        ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) > static_cast<size_t>(4 + 3 * i); }));
        ASSERT_EQ(h.Stop(), S_OK);
        // Requests that reach the streams between the stop's call and its execution: a request for data they ask
        // for must not start anything once the source is stopped (the host checks that nothing is read then).
        h.Request(1);
        h.Request(2);
        ASSERT_TRUE(h.PumpUntil([&] { return CountOf(h.sourceEvents, MESourceStopped) == static_cast<size_t>(2 * i + 1); }));
        h.PumpFor(30);
        ASSERT_EQ(h.Resume(), S_OK); // the next run starts with its headers and its discontinuity, and ends
        ASSERT_TRUE(h.PumpToEnd()) << "the run after the stop stalled";
        if (i == 0) whole = h.SamplesOf(1);
        EXPECT_EQ(h.SamplesOf(1), whole);
        ASSERT_EQ(h.Stop(), S_OK);
        ASSERT_TRUE(h.PumpUntil([&] { return CountOf(h.sourceEvents, MESourceStopped) == static_cast<size_t>(2 * i + 2); }));
    }
    EXPECT_THAT(h.violations, ::testing::IsEmpty());
}

TEST_F(Conformance, AnEndOfStreamBeforeARestartCountsOnlyForItsOwnRun) {
    Fixture f = MakeFile("eos-restart", R"({"seed": 3, "streams": [{"kind": "vorbis", "serial": 1, "seconds": 2}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    PollingHost h(s.source.Get());
    h.Select({1});
    h.requests = 1;
    ASSERT_EQ(h.Resume(), S_OK);
    ASSERT_TRUE(h.PumpToEnd());
    const size_t whole = h.SamplesOf(1);
    ASSERT_GT(whole, 10u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        // One request at a time up to the sample before the last: the stream has ended, its last sample waits.
        ASSERT_EQ(h.StartAt(0), S_OK);
        h.requests = 0;
        ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 2 * i + 2; }));
        while (h.SamplesOf(1) + 1 < whole) {
            const size_t before = h.SamplesOf(1);
            ASSERT_EQ(h.Request(1), S_OK);
            ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) > before; }));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // The restart is queued first; the request then takes the last sample of the run before, and that
        // stream's end of stream is posted behind the restart.
        ASSERT_EQ(h.StartAt(0), S_OK);
        ASSERT_EQ(h.Request(1), S_OK);
        h.requests = 1;
        ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 2 * i + 3 && h.endsOfPresentation == 1; }));
        EXPECT_EQ(h.SamplesOf(1), whole) << "the restarted run is whole";
    }
    EXPECT_THAT(h.violations, ::testing::IsEmpty());
}

TEST_F(Conformance, RateAndSelectionChangesBetweenRuns) {
    Fixture f = MakeFile("rate-selection", kMux);
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    PollingHost h(s.source.Get());
    h.lateBound = kLate;
    h.Select({1});
    ASSERT_EQ(h.Resume(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) > 10; }));
    ASSERT_EQ(h.Stop(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return CountOf(h.sourceEvents, MESourceStopped) == 1; }));
    h.PumpFor(20);
    ASSERT_EQ(h.SetRate(2.0f), S_OK); // while stopped
    h.Select({2, 3});
    const size_t before = h.streams[1].total;
    ASSERT_EQ(h.StartAt(10000000), S_OK);
    ASSERT_TRUE(h.PumpToEnd());
    EXPECT_EQ(h.streams[1].total, before) << "a deselected stream delivers nothing";
    ASSERT_GT(h.SamplesOf(2), 0u) << h.State();
    // Video at rate 2: times stay on the presentation's timeline (the file lasts 4 s).
    EXPECT_GT(h.streams[2].samples.back().time, 30000000);
    // A restart while running with another selection.
    h.Select({1, 2});
    ASSERT_EQ(h.SetRate(1.0f), S_OK);
    ASSERT_EQ(h.StartAt(5000000), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return h.sourceRuns == 3 && h.endsOfPresentation == 1; }));
    EXPECT_GT(h.SamplesOf(1), 10u);
    EXPECT_GT(h.streams[2].samples.back().time, 30000000);

    // Rates set from another thread while the operation thread starts, seeks and stops: the two never wait
    // for each other's locks in opposite orders (the thread sanitizer build reports any such order).
    std::atomic<bool> done{false};
    std::thread rates([&] {
        for (int i = 0; !done && i < 2000; ++i) { // every call queues an event: not too many
            h.SetRate(i % 2 ? 2.0f : 1.0f);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    for (int i = 0; i < 8; ++i) {
        h.StartAt(5000000LL * (i % 5));
        h.PumpFor(20);
        h.Stop();
        h.PumpFor(10);
    }
    done = true;
    rates.join();
    h.PumpFor(50);
    EXPECT_THAT(h.violations, ::testing::IsEmpty());
}

TEST_F(Conformance, ShutdownAtEveryPointLeavesNoReaderThread) {
    Fixture f = MakeFile("shutdown-points", kMux);
    for (int point = 0; point < 7; ++point) {
        SCOPED_TRACE(point);
        PlatRef<IMFByteStream> file, slow;
        MFCreateFileByteStreamA(f.path.c_str(), &file);
        FaultConfig c;
        if (point == 6) c.readDelayMicros = 3000; // a slow file: production waits for data
        MFCreateFaultByteStream(file.Get(), &c, &slow);
        PlatRef<IMFMediaSource> source;
        ASSERT_EQ(host::OpenByteStream(slow.Get(), &source), S_OK);
        {
            PollingHost h(source.Get());
            h.Select(kAll);
            if (point >= 1) {
                ASSERT_EQ(h.Resume(), S_OK);
            }
            if (point >= 2) h.PumpUntil([&] { return h.SamplesOf(1) > 10; }, 5000);
            if (point == 3) {
                h.Pause();
                h.PumpFor(20);
            }
            if (point == 4) {
                h.Stop();
                h.PumpFor(20);
            }
            if (point == 5) h.PumpToEnd();
            ASSERT_EQ(source->Shutdown(), S_OK);
            EXPECT_EQ(ReaderThreads(), 0) << "a reader thread outlives the shutdown";
            EXPECT_EQ(source->Shutdown(), MF_E_SHUTDOWN);
        }
        source.Reset(nullptr);
        EXPECT_EQ(ReaderThreads(), 0);
    }
}

TEST_F(Conformance, TheModuleStaysLoadedWhileAnyOfItsObjectsLives) {
    Fixture f = MakeFile("module-lifetime", kMux);
    ModuleWatch module;
    ASSERT_TRUE(module.Loaded());
    ASSERT_TRUE(module.Unloadable());
    PlatRef<IMFMediaStream> kept;
    {
        PlatRef<IMFMediaSource> source;
        ASSERT_EQ(host::OpenFile(f.path, &source), S_OK);
        EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
        PollingHost h(source.Get());
        h.Select(kAll);
        ASSERT_EQ(h.Resume(), S_OK);
        ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) > 5; }));
        kept = h.streams[1].stream; // a host may keep a stream after the source is gone
        source->Shutdown();
    }
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "a media stream of the module is alive";
    kept.Reset(nullptr);
    EXPECT_TRUE(module.Unloadable());
}

TEST_F(Conformance, AFileWithNothingSelectedByDefault) {
    const std::string tool = Quote(OGGSOURCE_TOOL_PATH);
    Fixture text = MakeFile("text-only", R"({"streams": [{"kind": "ogm_text", "serial": 5, "packets": 3}]})");
    ShellOutput o = RunShell(tool + " play --summary " + Quote(text.path) + " 2>&1");
    EXPECT_EQ(o.status, 0) << o.text;
    EXPECT_THAT(o.text, ::testing::HasSubstr("no stream is selected by default"));
    EXPECT_THAT(o.text, ::testing::HasSubstr("end of presentation"));
    Fixture unknown = MakeFile("unknown-only", R"({"streams": [{"kind": "unknown", "serial": 6, "packets": 3}]})");
    o = RunShell(tool + " play --summary " + Quote(unknown.path) + " 2>&1");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.text, ::testing::HasSubstr("nothing to play"));
}
