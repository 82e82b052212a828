// Header parsing on hand-made packets: the awkward and hostile cases.
#include <gtest/gtest.h>
#include <vector>

#include "ogg/media_types.h"
#include "ogg/logical_stream.h"
#include "ogg/read_ahead.h"
#include "ogg/ogm_header.h"
#include "ogg/codecs/codec_kinds.h"

namespace {
// Feeds packets to a stream record, each on a page of its own, as discovery would.
struct Parser {
    COggLogicalStream stream{77, nullptr};
    ogg_stream_state os;
    int packetno = 0;
    Parser() { ogg_stream_init(&os, 77); }
    ~Parser() { ogg_stream_clear(&os); }
    uint32_t Feed(std::vector<uint8_t> bytes, int64_t granule = 0) {
        ogg_packet op{};
        op.packet = bytes.data();
        op.bytes = static_cast<long>(bytes.size());
        op.b_o_s = packetno == 0;
        op.granulepos = granule;
        op.packetno = packetno++;
        ogg_stream_packetin(&os, &op);
        ogg_page og;
        uint32_t r = 0;
        while (ogg_stream_flush(&os, &og)) r |= stream.ParseHeaderPage(&og) ? 1u : 0u;
        return r;
    }
};

std::vector<uint8_t> OgmHeader(const char* type, int32_t size, int64_t timeUnit, int64_t perUnit, size_t bytes,
                               uint32_t bufferSize = 65536) {
    std::vector<uint8_t> p(1 + bytes, 0);
    p[0] = 1;
    std::memcpy(&p[1], type, std::strlen(type));
    if (bytes >= 16) WriteLE32(&p[1 + ogm::kSize], static_cast<uint32_t>(size));
    if (bytes >= 24) WriteLE64(&p[1 + ogm::kTimeUnit], static_cast<uint64_t>(timeUnit));
    if (bytes >= 32) WriteLE64(&p[1 + ogm::kSamplesPerUnit], static_cast<uint64_t>(perUnit));
    if (bytes >= 40) WriteLE32(&p[1 + ogm::kBufferSize], bufferSize);
    return p;
}
} // namespace

TEST(GranuleTime, RoundsToNearestWithHalfDown) {
    EXPECT_EQ(RoundDiv(15, 10), 1) << "a remainder of exactly half rounds down";
    EXPECT_EQ(RoundDiv(16, 10), 2);
    EXPECT_EQ(RoundDiv(14, 10), 1);
    EXPECT_EQ(ScaleGranule(44100, 10000000, 44100), 10000000);
    EXPECT_EQ(ScaleGranule(25, 400000, 1), 10000000);
    EXPECT_EQ(ScaleGranule(1, 10000000, 3), 3333333);
    EXPECT_EQ(ScaleGranule(2, 10000000, 3), 6666667);
    EXPECT_EQ(ScaleGranule(5, 10000000, 0), -1) << "no divisor, no time";
}

TEST(Headers, OgmHeadersOfEveryShapeNeverReadOutOfRange) {
    {
        Parser p;
        EXPECT_EQ(p.Feed(OgmHeader("video", 52, 400000, 1, 52)), 0u);
        EXPECT_EQ(p.stream.CodecKind(), CODEC_OGM);
        EXPECT_TRUE(p.stream.HeadersPending()) << "OGM headers end at the first data packet";
        EXPECT_EQ(p.stream.QueueHigh(), 256);
        EXPECT_EQ(p.stream.QueueLow(), 128);
        EXPECT_EQ(p.stream.GranuleToTime(25), 10000000);
        p.Feed({0x08, 1, 2, 3}, 3);
        EXPECT_FALSE(p.stream.HasHeaders());
        EXPECT_EQ(p.stream.StartTime(), 3 * 400000);
    }
    for (auto [size, bytes] : {std::pair{40, 52}, {52, 40}, {200, 52}, {-1, 52}}) {
        Parser p;
        EXPECT_EQ(p.Feed(OgmHeader("video", size, 400000, 1, bytes)), 1u) << size << " " << bytes;
        EXPECT_EQ(p.stream.CodecKind(), CODEC_UNKNOWN);
        EXPECT_FALSE(p.stream.MediaType().HasMediaType());
    }
    {
        Parser p; // samples per unit 0: the stream is kept, its packets have no time
        p.Feed(OgmHeader("audio", 52, 10000000, 0, 52));
        EXPECT_EQ(p.stream.CodecKind(), CODEC_OGM);
        EXPECT_EQ(p.stream.GranuleToTime(1000), -1);
    }
    {
        Parser p; // "directx" whose format block lies beyond the header
        std::vector<uint8_t> h = OgmHeader("directx", 120, 400000, 1, 120);
        WriteLE32(&h[1 + ogm::kDxFormatLength], 100);
        WriteLE32(&h[1 + ogm::kDxFormatOffset], 116);
        EXPECT_EQ(p.Feed(h), 1u);
        EXPECT_FALSE(p.stream.MediaType().HasMediaType());
    }
    {
        Parser p; // "directx" too short for its media type
        EXPECT_EQ(p.Feed(OgmHeader("directx", 60, 400000, 1, 60)), 1u);
    }
    {
        Parser p; // audio with the subtype characters 00G5
        std::vector<uint8_t> h = OgmHeader("audio", 52, 10000000, 44100, 52);
        std::memcpy(&h[1 + ogm::kSubtype], "00G5", 4);
        p.Feed(h);
        EXPECT_TRUE(IsEqualGUID(p.stream.MediaType().subtype, GuidFromFourcc(0x0005)));
        EXPECT_EQ(p.stream.MediaType().cbFormat, 18u);
    }
    {
        Parser p; // buffer size 1000: the page limits keep their minimum
        std::vector<uint8_t> h = OgmHeader("video", 52, 400000, 1, 52);
        WriteLE32(&h[1 + ogm::kBufferSize], 1000);
        std::memcpy(&h[1 + ogm::kSubtype], "YUY2", 4);
        p.Feed(h);
        EXPECT_EQ(p.stream.QueueHigh(), 16);
        EXPECT_EQ(p.stream.QueueLow(), 8);
        EXPECT_TRUE(p.stream.MediaType().bFixedSizeSamples) << "YUY2 is uncompressed";
        EXPECT_FALSE(p.stream.MediaType().bTemporalCompression);
    }
}

TEST(Headers, DirectShowEmbeddedHeadersShortOrStrange) {
    auto packet = [](uint32_t format, size_t bytes) {
        std::vector<uint8_t> p(bytes, 0);
        p[0] = 1;
        std::memcpy(&p[1], "Direct Show Samples embedded in Ogg", 35);
        if (bytes >= 100) WriteLE32(&p[96], format);
        if (bytes >= 142) {
            WriteLE16(&p[124], 0x55);
            WriteLE32(&p[128], 48000);
        }
        return p;
    };
    ogg_packet op{};
    BYTE* header = nullptr;
    size_t size = 0;
    std::vector<uint8_t> p = packet(0x05589F80, 150); // video, shorter than its VIDEOINFOHEADER
    op.packet = p.data();
    op.bytes = static_cast<long>(p.size());
    EXPECT_NE(ConvertDirectShowHeader(&op, &header, &size), 0);
    p = packet(0x05589F81, 142);
    WriteLE16(&p[140], 10); // claims ten extra bytes that are not there
    op.packet = p.data();
    op.bytes = static_cast<long>(p.size());
    EXPECT_NE(ConvertDirectShowHeader(&op, &header, &size), 0);
    p = packet(0x12345678, 200); // neither video nor audio
    op.packet = p.data();
    op.bytes = static_cast<long>(p.size());
    EXPECT_NE(ConvertDirectShowHeader(&op, &header, &size), 0);
    p = packet(0x05589F81, 142);
    op.packet = p.data();
    op.bytes = static_cast<long>(p.size());
    ASSERT_EQ(ConvertDirectShowHeader(&op, &header, &size), 0);
    EXPECT_EQ(std::memcmp(header + ogm::kSubtype, "0055", 4), 0);
    EXPECT_EQ(ogm::SamplesPerUnit(header), 48000);
    EXPECT_EQ(ogm::TimeUnit(header), 10000000);
    std::free(header);

    Parser s; // a refused conversion falls to libvorbis, which refuses too: the stream is given up
    EXPECT_EQ(s.Feed(packet(0x12345678, 200)), 1u);
    EXPECT_EQ(s.stream.CodecKind(), CODEC_UNKNOWN);
}

TEST(Headers, UnknownFirstPacketsAndEmptyPackets) {
    Parser p;
    EXPECT_EQ(p.Feed({}), 0u) << "an empty packet has no type byte and is passed over";
    EXPECT_EQ(p.Feed({0x7F, 'x', 'y'}), 0u);
    EXPECT_EQ(p.stream.CodecKind(), CODEC_UNKNOWN);
    EXPECT_TRUE(p.stream.HeadersPending());
    p.Feed({0x81, 1}, -1); // bit 7 set: not a data packet for an unknown stream
    EXPECT_TRUE(p.stream.HeadersPending());
    p.Feed({0x00, 1}, -1);
    EXPECT_FALSE(p.stream.HeadersPending());
    EXPECT_EQ(p.stream.StartTime(), 0) << "no granule yet";
    p.Feed({0x00, 2}, 5);
    EXPECT_EQ(p.stream.StartTime(), -1) << "an unknown codec has no time";

    Parser t; // a Theora identification header libtheora refuses
    EXPECT_EQ(t.Feed({0x80, 't', 'h', 'e', 'o', 'r', 'a', 0, 0}), 1u);
    EXPECT_FALSE(t.stream.HasHeaders());
    EXPECT_EQ(t.Feed({0x81, 't', 'h', 'e', 'o', 'r', 'a'}), 0u) << "later pages are ignored";
    EXPECT_EQ(t.stream.CodecKind(), CODEC_UNKNOWN);
}

TEST(MediaTypes, AlternativeTypeOnlyForTheoraAndMpegAudio) {
    CAMMediaType mp3;
    mp3.SetType(MEDIATYPE_Audio);
    mp3.SetSubtype(GuidFromFourcc(0x50));
    mp3.SetFormatType(FORMAT_WaveFormatEx);
    BYTE* b = mp3.AllocFormatBuffer(18);
    std::memset(b, 0, 18);
    WriteLE16(b + 12, 4);
    mp3.lSampleSize = 99;
    EXPECT_EQ(MakeAlternativeType(&mp3), 0);
    EXPECT_EQ(mp3.lSampleSize, 1u);
    EXPECT_EQ(ReadLE16(mp3.pbFormat + 12), 1);
    CAMMediaType vorbis;
    vorbis.SetType(MEDIATYPE_Audio);
    vorbis.SetFormatType(FORMAT_OggVorbis);
    EXPECT_EQ(MakeAlternativeType(&vorbis), 1);
    CAMMediaType shortVih2;
    shortVih2.SetType(MEDIATYPE_Video);
    shortVih2.SetFormatType(FORMAT_VideoInfo2);
    shortVih2.AllocFormatBuffer(40);
    EXPECT_EQ(MakeAlternativeType(&shortVih2), 1) << "too short to convert: never read past it";
}

namespace {
// The stream's next page: one small packet ending at `granule`. Its bytes are the stream's until its next page.
ogg_page SmallPage(ogg_stream_state* os, int64_t granule) {
    std::vector<uint8_t> bytes = {0x08, 1, 2, 3};
    ogg_packet op{};
    op.packet = bytes.data();
    op.bytes = 4;
    op.granulepos = granule;
    ogg_stream_packetin(os, &op);
    ogg_page og;
    ogg_stream_flush(os, &og);
    return og;
}
} // namespace

// Before a run's first sample goes out the stream wants only what the gate waits for; once that is queued it wants
// nothing until production has handed the first sample on, then up to its fill target. A new run starts over.
TEST(ReadAhead, BeforeTheFirstSampleTheStreamWantsWhatTheGateWaitsFor) {
    COggReadAhead q;
    q.SetMarks(32, 16);
    q.Restart(1);
    ogg_stream_state os;
    ogg_stream_init(&os, 78);
    bool wake = false;
    auto queue = [&](int64_t granule) {
        const LONGLONG t = granule * 400000; // 25 pages a second
        return q.Queue(1, SmallPage(&os, granule), &t, &wake);
    };
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::Gate) << "nothing queued";
    bool readerWake = false;
    EXPECT_EQ(q.Take(true, &readerWake), nullptr) << "the gate waits";
    for (int i = 0; i < 13; ++i) {
        queue(i);
        EXPECT_EQ(q.Wanted(), COggReadAhead::Need::Gate) << i << ": under half a second";
    }
    queue(13);
    EXPECT_TRUE(wake) << "half a second queued: production goes on";
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::FirstPending) << "the gate has what it waits for";
    EXPECT_TRUE(q.WantsMore()) << "its fill target is not reached";
    PageNode* n = q.Take(true, &readerWake);
    ASSERT_NE(n, nullptr);
    q.Recycle(n);
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::FirstPending) << "a page taken: the gate opened once in this run";
    while (PageNode* m = q.Take(true, &readerWake)) q.Recycle(m);
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::Gate) << "every page taken, no sample out yet: production needs more";
    queue(14);
    EXPECT_TRUE(wake) << "before the first sample an empty queue waits for any page, not for the prebuffer again";
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::FirstPending);
    bool first = false;
    q.FirstSampleOut(2, &first);
    EXPECT_FALSE(first) << "another run's sample";
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::FirstPending);
    q.FirstSampleOut(1, &first);
    EXPECT_TRUE(first) << "the run's first sample wakes the reader";
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::More);
    q.FirstSampleOut(1, &first);
    EXPECT_FALSE(first) << "once per run";
    for (int i = 15; i <= 65; ++i) queue(i);
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::Nothing) << "two seconds and the page mark";
    q.Restart(1);
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::Gate) << "a new run waits for its first sample again";
    bool ended = false;
    q.EndData(1, S_OK, &ended);
    EXPECT_EQ(q.Wanted(), COggReadAhead::Need::Nothing) << "the data ended";
    ogg_stream_clear(&os);
}

// A seek into audio whose pages span a second each: the page before the target and the one that holds it open the
// gate; production drops the first and must go on with the second at once, not wait for one more to be read (a seek
// then read half a megabyte of interleaved video more than it needed). Once the first sample is out, production
// that ran dry waits for the prebuffer again.
TEST(ReadAhead, ASeeksGateOpensOnceAndRunningDryAfterTheFirstSampleGatesAgain) {
    COggReadAhead q;
    q.SetMarks(32, 16);
    q.Restart(1);
    ogg_stream_state os;
    ogg_stream_init(&os, 79);
    bool wake = false, readerWake = false;
    auto queue = [&](int64_t second) {
        const LONGLONG t = second * 10000000;
        q.Queue(1, SmallPage(&os, second), &t, &wake);
    };
    queue(136);
    EXPECT_EQ(q.Take(true, &readerWake), nullptr) << "one page spans nothing: the gate waits";
    queue(137);
    EXPECT_TRUE(wake) << "a second queued";
    PageNode* before = q.Take(true, &readerWake);
    ASSERT_NE(before, nullptr);
    q.Recycle(before);
    PageNode* holding = q.Take(true, &readerWake);
    EXPECT_NE(holding, nullptr) << "the page that holds the target goes out without a second prebuffer";
    q.Recycle(holding);
    bool first = false;
    q.FirstSampleOut(1, &first);
    EXPECT_EQ(q.Take(false, &readerWake), nullptr) << "ran dry";
    queue(138);
    EXPECT_TRUE(wake) << "the page production waits for";
    EXPECT_EQ(q.Take(false, &readerWake), nullptr) << "after the first sample, running dry gates again";
    queue(139);
    PageNode* again = q.Take(false, &readerWake);
    EXPECT_NE(again, nullptr) << "a second queued again";
    q.Recycle(again);
    ogg_stream_clear(&os);
}

TEST(ReadAhead, TheReaderFillsTwoSecondsAndItsPageMarkOrTenSecondsWithinItsLimits) {
    COggReadAhead q;
    q.SetMarks(32, 16); // the Vorbis and Theora marks
    q.Restart(1);
    ogg_stream_state os;
    ogg_stream_init(&os, 77);
    auto page = [&](int64_t granule) { return SmallPage(&os, granule); };
    bool wake = false;
    auto queue = [&](int64_t granule) {
        ogg_page og = page(granule);
        const LONGLONG t = granule * 400000; // 25 pages a second
        return q.Queue(1, og, granule == -1 ? nullptr : &t, &wake);
    };
    // Pages 1/25 s apart: the page mark alone (32 pages, 1.24 s) does not stop the reader; the mark and 2 s do.
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(queue(i), COggReadAhead::Add::Queued);
        EXPECT_TRUE(q.WantsMore()) << i;
    }
    queue(50);
    EXPECT_FALSE(q.WantsMore()) << "51 pages spanning 2 s: the read-ahead is full";
    EXPECT_EQ(q.Queue(2, page(51), nullptr, &wake), COggReadAhead::Add::Stale) << "a page of another run";
    // Taking pages: the reader is not woken while a second or more is queued...
    bool readerWake = true;
    PageNode* n = q.Take(false, &readerWake);
    ASSERT_NE(n, nullptr);
    q.Recycle(n);
    EXPECT_FALSE(readerWake) << "50 pages spanning 1.96 s";
    // ...and is once less than a second is left (25 pages span 0.96 s).
    for (int i = 0; i < 24; ++i) q.Recycle(q.Take(false, &readerWake));
    ASSERT_FALSE(readerWake) << "26 pages spanning 1 s";
    q.Recycle(q.Take(false, &readerWake));
    EXPECT_TRUE(readerWake) << "25 pages, under a second";
    q.Restart(1);
    // Ten seconds queued stop the reader below the page mark: pages a second apart.
    for (int i = 0; i < 10; ++i) {
        queue(i * 25);
        EXPECT_TRUE(q.WantsMore()) << i;
    }
    queue(10 * 25);
    EXPECT_FALSE(q.WantsMore()) << "11 pages spanning 10 s";
    q.Recycle(q.Take(false, &readerWake));
    EXPECT_TRUE(readerWake) << "below the low mark the reader is woken, whatever the span";
    q.Restart(1);
    // Pages without a time never fill a span: the page limit stops the reader all the same, and a full queue takes
    // no more.
    for (int i = 0; i + 1 < kMaxQueuePages; ++i) {
        ASSERT_EQ(queue(-1), COggReadAhead::Add::Queued);
        ASSERT_TRUE(q.WantsMore()) << i;
    }
    queue(-1);
    EXPECT_FALSE(q.WantsMore()) << "the page limit";
    EXPECT_EQ(queue(-1), COggReadAhead::Add::Full);
    q.Restart(1);
    // A header's page mark stays within the limit whatever it asks (the OGM buffer size of a hostile file).
    Parser huge;
    huge.Feed(OgmHeader("video", 52, 400000, 1, 52, 0x7fffffff));
    EXPECT_LE(huge.stream.QueueHigh(), kMaxQueuePages);
    EXPECT_LT(huge.stream.QueueLow(), huge.stream.QueueHigh());
    EXPECT_GT(huge.stream.QueueLow(), 0);
    ogg_stream_clear(&os);
}
