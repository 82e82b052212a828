// One presentation timeline and seeks that land where they must: the origin of a file whose granules do not
// start at 0, seeks of every kind checked against the truth of a full play (seek_oracle.h), page-spanning key
// frames, exact hits and the last key interval, a start at 0 that rewinds without a search, a rate set while
// stopped that moves nothing.
#include <chrono>
#include <thread>

#include "common/fixtures.h"
#include "seek_oracle.h"

namespace {
// Every kind, data granules starting 7 s in (a cut file); OGM key frames of 9000 bytes span the 4 KB pages.
const char* kKinds = R"({"seed": 21, "streams": [
    {"kind": "vorbis", "serial": 1, "seconds": 6, "start": 7},
    {"kind": "theora", "serial": 2, "width": 96, "height": 64, "seconds": 6, "keyint": 12, "start": 7},
    {"kind": "ogm_video", "serial": 3, "packets": 150, "packet_size": 700, "key_every": 12, "key_size": 9000, "start": 7},
    {"kind": "ogm_audio", "serial": 4, "packets": 230, "packet_size": 300, "start": 7},
    {"kind": "dshow", "serial": 5, "media": "video", "packets": 150, "packet_size": 500, "start": 7},
    {"kind": "ogm_text", "serial": 6, "packets": 3, "start": 7}]})";
const std::vector<DWORD> kAll = {1, 2, 3, 4, 5, 6};

struct Played {
    nlohmann::json probe;
    std::vector<StreamTruth> truth;
};

Played PlayWhole(const std::string& path, const std::vector<DWORD>& streams) {
    Played p;
    OpenedSource s(path);
    EXPECT_EQ(s.hr, S_OK);
    if (FAILED(s.hr)) return p;
    p.probe = Probe(s.source.Get());
    host::PlayOptions o;
    o.streams = streams;
    host::PlayResult r = host::Play(s.source.Get(), o);
    EXPECT_TRUE(r.endOfPresentation);
    for (DWORD id : streams) p.truth.push_back(Truth(path, *StreamById(p.probe, id), r.samples));
    return p;
}

// Seeks from the stopped state to each target and checks every stream; the play after a seek reads the file once
// from the earliest page a stream resumes at (a search that fell back to byte 0 would read it all).
void ExpectSeeks(const std::string& path, const std::vector<DWORD>& streams, const Played& whole,
                 const std::vector<LONGLONG>& targets) {
    host::PlayResult r;
    for (LONGLONG target : targets) {
        SCOPED_TRACE(target);
        const uint64_t bytes = BytesOfAPlay(path, streams, target, &r);
        ASSERT_TRUE(r.endOfPresentation);
        for (const StreamTruth& t : whole.truth) EXPECT_EQ(CheckSeek(t, target, Of(r, t.id)), "");
        EXPECT_LE(bytes, SeekReadBound(path, whole.truth, target));
    }
}
} // namespace

using Timeline = SourceTest;

TEST_F(Timeline, TheOriginIsTheEarliestFirstPacketAndEverythingCountsFromIt) {
    Fixture f = MakeFile("origin", kKinds);
    Played whole = PlayWhole(f.path, kAll);
    EXPECT_EQ(whole.probe["origin"], 70000000) << "the granules start 7 s in";
    EXPECT_EQ(whole.probe["duration"], 60000000) << "the duration is the span, not the end";
    for (const StreamTruth& t : whole.truth) {
        SCOPED_TRACE(t.id);
        ASSERT_FALSE(t.pages.samples.empty());
        EXPECT_EQ(StreamById(whole.probe, t.id)->at("start"), t.pages.samples[0].time) << "the start on the same timeline";
        if (t.id != 6) {
            EXPECT_EQ(t.pages.samples[0].time, 0) << "every stream starts at the origin here";
        }
        EXPECT_LE(t.pages.samples.back().time, 60000000);
    }
}

TEST_F(Timeline, SeeksOfEveryKindLandOnTheRightPageOrKeyFrame) {
    Fixture f = MakeFile("seek-kinds", kKinds);
    Played whole = PlayWhole(f.path, kAll);
    // Targets inside pages, past the last key frame, and exactly at a Vorbis page's end (the exact hit lands
    // on that page, not on the one before).
    std::vector<LONGLONG> targets = {5000000, 13333333, 24000000, 41234567, 57000000, 59990000};
    for (const StreamTruth& t : whole.truth)
        if (t.id == 1 && t.pages.pages.size() > 6) targets.push_back(PageTime(t, 5));
    ExpectSeeks(f.path, kAll, whole, targets);
}

TEST_F(Timeline, KeyFramesThatSpanPagesAreFoundWhereTheyBegin) {
    // Key frames of 20 KB on pages of 4 KB, small frames between: the key frame begins mid-page, after a
    // frame completed there, and ends pages later.
    Fixture f = MakeFile("spanning", R"({"seed": 22, "streams": [
        {"kind": "ogm_video", "serial": 3, "packets": 200, "packet_size": 600, "key_every": 25, "key_size": 20000},
        {"kind": "theora", "serial": 2, "width": 320, "height": 240, "seconds": 8, "keyint": 25, "noise": true}]})");
    Played whole = PlayWhole(f.path, {2, 3});
    std::vector<LONGLONG> targets;
    for (LONGLONG t = 9000000; t < 80000000; t += 9733333) targets.push_back(t);
    ExpectSeeks(f.path, {2, 3}, whole, targets);
}

TEST_F(Timeline, AStartAtZeroRewindsEveryReaderWithoutASearch) {
    Fixture f = MakeFile("restart-zero", kKinds);
    Played whole = PlayWhole(f.path, kAll);
    PlatRef<IMFByteStream> file, counted;
    MFCreateFileByteStreamA(f.path.c_str(), &file);
    MFCreateFaultByteStream(file.Get(), nullptr, &counted);
    OpenedSource s(counted.Get());
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IFaultByteStreamControl> control;
    counted->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control));
    // While running: back to 0, every stream from its first packet (a search for the origin's time would
    // land on the page after the first packets of a Vorbis- or OGM-led file).
    host::PlayOptions o;
    o.streams = kAll;
    o.seekWhen = 30000000;
    o.seekTo = 0;
    host::PlayResult r = host::Play(s.source.Get(), o);
    ASSERT_TRUE(r.endOfPresentation);
    for (const StreamTruth& t : whole.truth) {
        std::vector<host::Sample> mine = Of(r, t.id);
        // The stream's samples after its last started event are the last run's.
        size_t at = 0, samples = 0;
        for (MediaEventType e : r.streamEvents[t.id]) {
            if (e == MEMediaSample) ++samples;
            if (e == MEStreamStarted || e == MEStreamSeeked) at = samples;
        }
        ASSERT_LE(at, mine.size());
        std::vector<host::Sample> run(mine.begin() + static_cast<long>(at), mine.end());
        ASSERT_FALSE(run.empty()) << t.id;
        // The last run is the whole stream again, after the samples sent ahead of its data.
        const size_t skip = t.headerSamples;
        ASSERT_EQ(run.size() - skip, t.pages.samples.size()) << t.id;
        for (size_t i = 0; i < t.pages.samples.size(); ++i) EXPECT_EQ(run[skip + i].crc, t.pages.samples[i].crc) << t.id;
    }
    // While stopped a rate change moves no reader: nothing is read.
    ASSERT_EQ(s->Stop(), S_OK);
    PlatRef<IMFGetService> service;
    PlatRef<IMFRateControl> rate;
    ASSERT_EQ(s->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&service)), S_OK);
    ASSERT_EQ(service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(&rate)), S_OK);
    uint64_t before = 0, after = 0;
    for (int i = 0; i < 50 && (control->GetCounters(&before, nullptr), true); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        control->GetCounters(&after, nullptr);
        if (after == before) break; // the stop has settled
    }
    control->GetCounters(&before, nullptr);
    ASSERT_EQ(rate->SetRate(FALSE, 2.0f), S_OK);
    ASSERT_EQ(rate->SetRate(FALSE, 0.5f), S_OK);
    control->GetCounters(&after, nullptr);
    EXPECT_EQ(after, before) << "a rate set while stopped reads nothing";
}
