// Byte streams that cannot seek and have no length (a pipe, a plain HTTP reply), and broadcasts (the same from
// the network): every packet in order, no duration, no seek, no other rate; a stop and a start go on from where
// the bytes are; a broadcast reads on while paused and fails the play when it is cut off.
#include <algorithm>
#include <fstream>
#include <gmock/gmock.h>

#include "common/ffprobe.h"
#include "common/fixtures.h"
#include "polling_host.h"

namespace {
const char* kFile = R"({"seed": 21, "streams": [{"kind": "vorbis", "serial": 1, "seconds": 8},
    {"kind": "theora", "serial": 2, "width": 160, "height": 120, "seconds": 8, "keyint": 12}]})";
// Longer than the reader reads ahead (10 s): a stop or a pause finds most of it still to be read.
const char* kLong = R"({"seed": 22, "streams": [{"kind": "vorbis", "serial": 1, "seconds": 40},
    {"kind": "theora", "serial": 2, "width": 96, "height": 64, "seconds": 40, "keyint": 25}]})";

PlatRef<IMFByteStream> ReadOnceStream(const std::string& path, bool remote, IFaultByteStreamControl** control = nullptr,
                                      unsigned delayMicros = 0) {
    FaultConfig c;
    c.notSeekable = true;
    c.lengthUnknown = true;
    c.remote = remote;
    c.readDelayMicros = delayMicros;
    c.shortReadLimit = delayMicros ? 4096 : 0;
    return CountingStream(path, control, &c);
}

// The samples a stream got since it had `before` in all (the host keeps a run's samples, or every one).
std::vector<host::Sample> Since(const PollingHost::StreamState& s, size_t before) {
    const size_t n = s.total - before;
    return std::vector<host::Sample>(s.samples.end() - static_cast<long>(std::min(n, s.samples.size())), s.samples.end());
}

// Where `run` lies in `all` (the first sample whose payload matches its first data sample), or -1.
long IndexOf(const std::vector<host::Sample>& all, const host::Sample& s) {
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].crc == s.crc && all[i].time == s.time) return static_cast<long>(i);
    return -1;
}

// The samples of `run` after its header samples: a contiguous run of `all` to its end; the index it starts at.
long ExpectTail(const std::vector<host::Sample>& all, const std::vector<host::Sample>& run) {
    size_t first = 0;
    while (first < run.size() && run[first].time == 0 && run[first].duration == 0) ++first;
    EXPECT_LT(first, run.size());
    if (first >= run.size()) return -1;
    const long at = IndexOf(all, run[first]);
    EXPECT_GE(at, 0) << "a sample that is not the file's";
    if (at < 0) return -1;
    EXPECT_TRUE(run[first].discontinuity) << "the first sample after the gap";
    EXPECT_EQ(run.size() - first, all.size() - static_cast<size_t>(at)) << "a gap within the run, or no end";
    for (size_t i = first; i < run.size() && static_cast<size_t>(at) + i - first < all.size(); ++i)
        EXPECT_EQ(run[i].crc, all[static_cast<size_t>(at) + i - first].crc) << i;
    return at;
}

HRESULT StartAt(IMFMediaSource* source, LONGLONG position) {
    PlatRef<IMFPresentationDescriptor> pd;
    source->CreatePresentationDescriptor(&pd);
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_I8;
    v.hVal.QuadPart = position;
    return source->Start(pd.Get(), nullptr, &v);
}
} // namespace

using ReadOnce = SourceTest;

TEST_F(ReadOnce, EveryPacketInOrderAndNoDurationSeekOrOtherRate) {
    Fixture f = MakeFile("read-once", kFile);
    OpenedSource whole(f.path);
    ASSERT_EQ(whole.hr, S_OK);
    const host::PlayResult all = host::Play(whole.source.Get(), host::PlayOptions{});
    ASSERT_TRUE(all.endOfPresentation);
    // ffprobe's packets of the Vorbis stream are the file's own answer: each is delivered, in order.
    const nlohmann::json ff = Ffprobe(f.path);
    OpenedSource s(ReadOnceStream(f.path, false).Get());
    ASSERT_EQ(s.hr, S_OK);
    DWORD characteristics = 0;
    ASSERT_EQ(s->GetCharacteristics(&characteristics), S_OK);
    EXPECT_EQ(characteristics, static_cast<DWORD>(MFMEDIASOURCE_CAN_PAUSE)) << "no seek, not live";
    EXPECT_EQ(Probe(s.source.Get())["duration"], nullptr);
    PlatRef<IMFRateSupport> rates;
    ASSERT_EQ(s->QueryInterface(IID_IMFRateSupport, reinterpret_cast<void**>(&rates)), S_OK);
    float fastest = 0;
    EXPECT_EQ(rates->GetFastestRate(MFRATE_FORWARD, FALSE, &fastest), S_OK);
    EXPECT_EQ(fastest, 1.0f);
    EXPECT_EQ(rates->IsRateSupported(FALSE, 2.0f, nullptr), MF_E_UNSUPPORTED_RATE);
    EXPECT_EQ(rates->IsRateSupported(FALSE, 0.0f, nullptr), MF_E_UNSUPPORTED_RATE);
    EXPECT_EQ(rates->IsRateSupported(FALSE, 1.0f, nullptr), S_OK);
    EXPECT_EQ(StartAt(s.source.Get(), 30000000), MF_E_INVALIDREQUEST) << "a seek is refused from the call";

    const host::PlayResult r = host::Play(s.source.Get(), host::PlayOptions{});
    ASSERT_EQ(r.status, S_OK) << host::HResultText(r.status);
    ASSERT_TRUE(r.endOfPresentation);
    for (const auto& [id, ends] : all.endOfStream) {
        const std::vector<host::Sample> a = Of(all, id), b = Of(r, id);
        ASSERT_EQ(a.size(), b.size()) << id;
        for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].crc, b[i].crc) << id << " " << i;
    }
    std::vector<std::string> vorbis;
    const std::vector<host::Sample> played = Of(r, 1);
    for (size_t i = 3; i < played.size(); ++i) { // after the three header samples
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", played[i].crc);
        vorbis.push_back(crc);
    }
    std::vector<std::string> want;
    for (const auto& p : ff["packets"])
        if (p["stream_index"] == 0) want.push_back(FfCrc(p));
    EXPECT_EQ(vorbis, want);
}

// A stop, then a start from the current position: the play goes on from where the reader is, never from the start,
// its first sample a discontinuity, to the end; a start at any other position is refused from the call.
TEST_F(ReadOnce, AStopAndAStartGoOnFromWhereTheBytesAre) {
    Fixture f = MakeFile("read-once-restart", kLong);
    OpenedSource whole(f.path);
    const host::PlayResult all = host::Play(whole.source.Get(), host::PlayOptions{});
    ASSERT_TRUE(all.endOfPresentation);
    OpenedSource s(ReadOnceStream(f.path, false).Get());
    ASSERT_EQ(s.hr, S_OK);
    PollingHost h(s.source.Get());
    h.lateBound = 0x3fffffffffffffffLL; // a run that goes on starts where the bytes are, after its start position
    h.Select({1, 2});
    // The test asks for the first samples itself: a host that kept asking could take nearly the whole file before
    // the stop is carried out on a loaded machine, and leave the resume nothing to go on with.
    h.requests = 0;
    ASSERT_EQ(h.StartAt(0), S_OK) << "0 is where a presentation that never played is";
    ASSERT_TRUE(h.PumpUntil([&] { return h.streams[1].started && h.streams[2].started; }));
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(h.Request(1), S_OK);
        ASSERT_EQ(h.Request(2), S_OK);
    }
    ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) >= 30; }));
    ASSERT_EQ(h.Stop(), S_OK);
    ASSERT_TRUE(h.PumpUntil([&] { return h.streams[1].stopped; }));
    const std::vector<host::Sample> before = h.streams[1].samples;
    const size_t beforeTotal = h.streams[1].total;
    EXPECT_EQ(StartAt(s.source.Get(), 0), MF_E_INVALIDREQUEST) << "the start cannot be read again";
    h.requests = 2;
    ASSERT_EQ(h.Resume(), S_OK);
    ASSERT_TRUE(h.PumpToEnd()) << h.State();
    EXPECT_THAT(h.violations, ::testing::IsEmpty());
    const std::vector<host::Sample> vorbis = Of(all, 1);
    const long last = IndexOf(vorbis, before.back());
    ASSERT_GE(last, 0);
    const long resumed = ExpectTail(vorbis, Since(h.streams[1], beforeTotal));
    EXPECT_GT(resumed, last) << "went back";
}

// A broadcast paused reads on and drops what comes (the server never sees a client that stopped); the resume goes
// on live, a discontinuity, a later part of the same packets to the end. One cut off where its streams do not end
// fails the play with the cause, and does not hang.
TEST_F(ReadOnce, ABroadcastReadsOnWhilePausedAndACutOffFailsThePlay) {
    Fixture f = MakeFile("broadcast", kLong);
    OpenedSource whole(f.path);
    const host::PlayResult all = host::Play(whole.source.Get(), host::PlayOptions{});
    ASSERT_TRUE(all.endOfPresentation);
    {
        PlatRef<IFaultByteStreamControl> control;
        OpenedSource s(ReadOnceStream(f.path, true, &control, 3000).Get());
        ASSERT_EQ(s.hr, S_OK);
        DWORD characteristics = 0;
        ASSERT_EQ(s->GetCharacteristics(&characteristics), S_OK);
        EXPECT_EQ(characteristics, static_cast<DWORD>(MFMEDIASOURCE_CAN_PAUSE | MFMEDIASOURCE_IS_LIVE));
        PollingHost h(s.source.Get());
        h.lateBound = 0x3fffffffffffffffLL;
        h.Select({1, 2});
        ASSERT_EQ(h.Resume(), S_OK);
        ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(1) >= 20; }));
        ASSERT_EQ(h.Pause(), S_OK);
        ASSERT_TRUE(h.PumpUntil([&] { return h.sourceEvents.back() == MESourcePaused; }));
        h.PumpFor(50); // the samples sent before the pause
        const size_t paused = h.streams[1].total;
        const host::Sample lastBefore = h.streams[1].samples.back();
        uint64_t at = 0, now = 0;
        control->GetCounters(&at, nullptr);
        // The reader goes on while paused: 20 more reads (80 KB, some seconds of the file) come in, whatever the
        // machine's speed.
        ASSERT_TRUE(h.PumpUntil([&] { return control->GetCounters(&now, nullptr), now >= at + 20; })) << now - at;
        ASSERT_EQ(h.Resume(), S_OK);
        ASSERT_TRUE(h.PumpToEnd()) << h.State();
        EXPECT_THAT(h.violations, ::testing::IsEmpty());
        const std::vector<host::Sample> vorbis = Of(all, 1);
        const long last = IndexOf(vorbis, lastBefore);
        const long resumed = ExpectTail(vorbis, Since(h.streams[1], paused));
        EXPECT_GT(resumed, last + 1) << "what came while paused was dropped";
    }
    // The same broadcast cut at two thirds, in the middle of a page: no stream ends there.
    const std::string cut = f.path + ".cut.ogg";
    {
        std::ifstream in(f.path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(cut, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size() * 2 / 3));
    }
    OpenedSource s(ReadOnceStream(cut, true).Get());
    ASSERT_EQ(s.hr, S_OK);
    host::PlayOptions o;
    o.timeoutMs = 20000;
    const host::PlayResult r = host::Play(s.source.Get(), o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, MF_E_NET_CONNECTION_FAILURE) << host::HResultText(r.status);
    EXPECT_FALSE(Of(r, 1).empty()) << "what came before the cut was played";
    unlink(cut.c_str());
}
