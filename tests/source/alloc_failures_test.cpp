// Every allocation of an open and a play failing in turn (the module's own, the pool's buffers, page queue
// entries, and the stand-in's samples, buffers, events and queue entries), and every allocation from one on
// failing: the open refuses, or the play ends or reports an error. Nothing may hang, crash or leak (the
// sanitizer builds run the same matrix).
#include "common/fixtures.h"
#include "platform/alloc_fault.h"

namespace {
const char* kFiles[] = {
    R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 0.3}, {"kind": "ogm_text", "serial": 2, "packets": 2}]})",
    R"({"streams": [{"kind": "theora", "serial": 3, "seconds": 0.2, "width": 32, "height": 32, "keyint": 3}]})",
    R"({"streams": [{"kind": "ogm_video", "serial": 4, "packets": 12, "packet_size": 3000, "key_every": 4}]})",
    R"({"streams": [{"kind": "opus", "serial": 5, "seconds": 0.3}, {"kind": "skeleton", "serial": 6}]})",
    R"({"links": [{"streams": [{"kind": "flac", "serial": 7, "seconds": 0.2}]}, {"streams": [{"kind": "vorbis", "serial": 8, "seconds": 0.2}]}]})",
};

struct Disarm {
    ~Disarm() { PlatFailAllocation(-1, 0); }
};

struct Outcome {
    bool refused = false, ended = false, failed = false, timedOut = false;
};

Outcome OpenAndPlay(const std::string& path, bool seek) {
    Outcome o;
    OpenedSource s(path);
    if (FAILED(s.hr)) {
        o.refused = true;
        return o;
    }
    host::PlayOptions options;
    options.timeoutMs = 8000;
    options.requests = 3;
    if (seek) {
        options.startAt = true;
        options.start = 1000000; // 0.1 s: the search runs
    }
    host::PlayResult r = host::Play(s.source.Get(), options);
    o.ended = r.endOfPresentation;
    o.failed = FAILED(r.status);
    o.timedOut = r.timedOut;
    return o;
}
} // namespace

using AllocationFailures = SourceTest;

TEST_F(AllocationFailures, EveryAllocationOfAnOpenAndAPlayFailingInTurn) {
    Disarm disarm;
    int runs = 0, refused = 0, failed = 0;
    for (size_t k = 0; k < std::size(kFiles); ++k) {
        Fixture f = MakeFile("alloc" + std::to_string(k), kFiles[k]);
        for (bool seek : {false, true}) {
            PlatFailAllocation(0x7fffffff, 0); // counting only
            const Outcome whole = OpenAndPlay(f.path, seek);
            const long count = PlatAllocationsCounted();
            PlatFailAllocation(-1, 0);
            ASSERT_TRUE(whole.ended) << kFiles[k];
            ASSERT_GT(count, 10) << "the allocations are counted";
#ifdef OGGSOURCE_TSAN
            constexpr long kPoints = 30; // each play is ten times slower under TSan
#else
            constexpr long kPoints = 150;
#endif
            const long step = count > kPoints ? count / kPoints : 1;
            for (long at = 0; at < count; at += step) {
                for (int allAfter = 0; allAfter < 2; ++allAfter) {
                    SCOPED_TRACE(std::string(kFiles[k]) + (seek ? " from 0.1 s" : "") + ", allocation " +
                                 std::to_string(at) + " of " + std::to_string(count) + (allAfter ? " and after" : ""));
                    PlatFailAllocation(at, allAfter);
                    const Outcome o = OpenAndPlay(f.path, seek);
                    PlatFailAllocation(-1, 0);
                    ++runs;
                    EXPECT_FALSE(o.timedOut) << "no event for 8 s";
                    EXPECT_TRUE(o.refused || o.ended || o.failed);
                    refused += o.refused;
                    failed += o.failed;
                }
            }
        }
    }
    std::printf("  allocation matrix: %d runs, %d opens refused, %d plays ended with an error\n", runs, refused, failed);
    EXPECT_GT(refused, 0);
    EXPECT_GT(failed, 0) << "a failure during the play reaches the host";
}
