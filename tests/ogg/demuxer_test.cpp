// The demultiplexing core alone, over bytes in memory: every packet of every kind with its time, bytes that come in
// pieces, of unknown length or from a byte source that cannot seek, reads that fail, seeks.
#include <algorithm>

#include "core_fixtures.h"
#include "ogg/seek_search.h"

namespace {
const char* kKinds = R"({"seed": 9, "streams": [
    {"kind": "vorbis", "serial": 1, "seconds": 2},
    {"kind": "theora", "serial": 2, "width": 160, "height": 120, "seconds": 2, "keyint": 10},
    {"kind": "ogm_video", "serial": 3, "packets": 40, "length_bytes": 2, "packet_duration": 1, "key_every": 8},
    {"kind": "ogm_audio", "serial": 4, "packets": 30},
    {"kind": "ogm_text", "serial": 5, "packets": 3},
    {"kind": "opus", "serial": 6, "seconds": 1.5, "preskip": 312},
    {"kind": "flac", "serial": 7, "seconds": 1.5},
    {"kind": "speex", "serial": 8, "seconds": 1.5},
    {"kind": "unknown", "serial": 9, "packets": 5}]})";

// What the core must hand up for a stream: its data packets in order (the samples sent ahead of them left out).
void ExpectPackets(const oggmux::StreamRecord& rec, const std::vector<core::Packet>& got, size_t ahead) {
    ASSERT_GE(got.size(), ahead);
    ASSERT_EQ(got.size() - ahead, rec.packets.size());
    for (size_t i = 0; i < rec.packets.size(); ++i) {
        EXPECT_EQ(got[ahead + i].crc, rec.packets[i].crc32) << i;
        EXPECT_EQ(got[ahead + i].discontinuity, i == 0 ? 1 : 0) << i;
    }
}

size_t Ahead(oggmux::Kind kind) { return kind == oggmux::Kind::Vorbis ? 3 : kind == oggmux::Kind::OgmText ? 1 : 0; }

std::vector<int32_t> MediaStreams(COggDemuxer* core) {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < core->StreamCount(); ++i)
        if (core->Stream(i)->Logical().IsMediaStream()) v.push_back(i);
    return v;
}
} // namespace

TEST(Demuxer, EveryPacketOfEveryKindWithItsTime) {
    const oggmux::MuxResult mux = core::Mux(kKinds);
    core::OpenedCore c(mux.file);
    ASSERT_EQ(c.hr, S_OK);
    EXPECT_EQ(c.core->StreamCount(), 9);
    const std::vector<int32_t> media = MediaStreams(c.core);
    ASSERT_EQ(media.size(), 8u) << "the unknown stream is not media";
    ASSERT_TRUE(c.Play(1, 0, media));
    for (const auto& rec : mux.streams) {
        SCOPED_TRACE(oggmux::KindName(rec.kind));
        const int32_t i = c.IndexOf(rec.serial);
        if (rec.kind == oggmux::Kind::Unknown) continue;
        const std::vector<core::Packet> got = c.sink->Of(i);
        ExpectPackets(rec, got, Ahead(rec.kind));
        EXPECT_TRUE(c.sink->Ended(i));
        EXPECT_EQ(c.sink->Cause(i), S_OK);
        const size_t a = Ahead(rec.kind);
        for (size_t k = 0; k < rec.packets.size(); ++k) {
            const core::Packet& p = got[a + k];
            switch (rec.kind) {
            case oggmux::Kind::Vorbis: // a packet's time is the end of its audio, rounded to nearest
                EXPECT_EQ(p.time, (rec.packets[k].granule * 10000000 + 22050) / 44100) << k;
                EXPECT_EQ(p.duration, 0);
                break;
            case oggmux::Kind::Theora: // frame k of 25 a second (granules count key frames from 1)
                EXPECT_EQ(p.time, static_cast<LONGLONG>(k) * 400000) << k;
                EXPECT_EQ(p.duration, 400000);
                EXPECT_EQ(p.clean, rec.packets[k].key ? 1 : 0);
                break;
            case oggmux::Kind::OgmVideo: // the granule is the packet's start; its two length bytes its duration
                EXPECT_EQ(p.time, rec.packets[k].granule * 400000) << k;
                EXPECT_EQ(p.duration, 400000);
                EXPECT_EQ(p.size, rec.packets[k].size) << "the length bytes are not part of the sample";
                EXPECT_EQ(p.clean, k % 8 == 0 ? 1 : 0);
                break;
            case oggmux::Kind::Opus: // 48 kHz less the pre-skip, up to the packet's end
                EXPECT_EQ(p.time + p.duration, (rec.packets[k].granule - 312) * 10000000 / 48000) << k;
                break;
            default: break;
            }
        }
    }
}

// Bytes that come in pieces, a length that is not known, a byte source that cannot seek: the same packets.
TEST(Demuxer, PiecesUnknownLengthsAndNoSeekingGiveTheSamePackets) {
    const oggmux::MuxResult mux = core::Mux(kKinds);
    core::OpenedCore whole(mux.file);
    ASSERT_EQ(whole.hr, S_OK);
    const std::vector<int32_t> media = MediaStreams(whole.core);
    ASSERT_TRUE(whole.Play(1, 0, media));
    void (*setUps[])(core::MemorySource*) = {
        [](core::MemorySource* s) { s->Pieces(777); },
        [](core::MemorySource* s) { s->LengthUnknown(); },
        [](core::MemorySource* s) {
            s->NotSeekable();
            s->LengthUnknown();
        },
    };
    for (auto setUp : setUps) {
        core::OpenedCore c(mux.file, setUp);
        ASSERT_EQ(c.hr, S_OK);
        if (!c.source->Caps().seekable) {
            EXPECT_EQ(c.core->Duration(), UnknownLength) << "no end scan without seeking";
        }
        ASSERT_TRUE(c.Play(1, 0, media));
        for (int32_t i : media) {
            const std::vector<core::Packet> a = whole.sink->Of(i), b = c.sink->Of(i);
            ASSERT_EQ(a.size(), b.size()) << i;
            for (size_t k = 0; k < a.size(); ++k) EXPECT_EQ(a[k].crc, b[k].crc) << i << " " << k;
        }
    }
}

// Reads that fail after the open end every stream with the read's failure, each after a prefix of its packets.
TEST(Demuxer, ReadsThatFailEndEveryStreamWithTheFailure) {
    const oggmux::MuxResult mux = core::Mux(kKinds);
    core::OpenedCore whole(mux.file);
    const std::vector<int32_t> media = MediaStreams(whole.core);
    ASSERT_TRUE(whole.Play(1, 0, media));
    for (long after : {0L, 1L, 3L}) {
        SCOPED_TRACE(after);
        core::OpenedCore c(mux.file);
        ASSERT_EQ(c.hr, S_OK);
        c.source->FailFrom(c.source->Reads() + after);
        ASSERT_TRUE(c.Play(1, 0, media)) << "every stream ends";
        bool failed = false;
        for (int32_t i : media) {
            EXPECT_TRUE(c.sink->Ended(i));
            failed = failed || c.sink->Cause(i) == E_FAIL;
            const std::vector<core::Packet> a = whole.sink->Of(i), b = c.sink->Of(i);
            ASSERT_LE(b.size(), a.size());
            for (size_t k = 0; k < b.size(); ++k) EXPECT_EQ(a[k].crc, b[k].crc) << i << " " << k;
        }
        EXPECT_TRUE(failed) << "the failure reaches the owner";
    }
}

// A seek: each stream's packets from the target on are a run of the full play's, the first at or before the
// target, and fewer bytes are read than from the start.
TEST(Demuxer, SeeksResumeEveryStreamInItsRun) {
    const oggmux::MuxResult mux = core::Mux(R"({"seed": 4, "streams": [
        {"kind": "vorbis", "serial": 1, "seconds": 8, "flush_every": 8},
        {"kind": "theora", "serial": 2, "width": 160, "height": 120, "seconds": 8, "keyint": 12},
        {"kind": "ogm_audio", "serial": 4, "packets": 300, "packet_size": 300}]})");
    core::OpenedCore whole(mux.file);
    const std::vector<int32_t> media = MediaStreams(whole.core);
    ASSERT_TRUE(whole.Play(1, 0, media));
    const uint64_t fullBytes = whole.source->BytesRead();
    for (LONGLONG target : {15000000LL, 42000000LL, 70000000LL}) {
        SCOPED_TRACE(target);
        core::OpenedCore c(mux.file);
        const uint64_t opened = c.source->BytesRead();
        ASSERT_TRUE(c.Play(1, target, media));
        EXPECT_LT(c.source->BytesRead() - opened, fullBytes - fullBytes * static_cast<uint64_t>(target) / 100000000 + 200000);
        for (int32_t i : media) {
            std::vector<core::Packet> all = whole.sink->Of(i), run = c.sink->Of(i);
            const size_t ahead = c.core->Stream(i)->Logical().CodecKind() == CODEC_VORBIS ? 3 : 0;
            all.erase(all.begin(), all.begin() + static_cast<long>(ahead));
            run.erase(run.begin(), run.begin() + static_cast<long>(std::min(ahead, run.size())));
            ASSERT_FALSE(run.empty()) << i;
            EXPECT_EQ(run[0].discontinuity, 1);
            EXPECT_LE(run[0].time, target) << i;
            auto it = std::find_if(all.begin(), all.end(), [&](const core::Packet& p) { return p.crc == run[0].crc && p.time == run[0].time; });
            ASSERT_NE(it, all.end()) << i;
            const size_t at = static_cast<size_t>(it - all.begin());
            ASSERT_EQ(run.size(), all.size() - at) << i;
            for (size_t k = 0; k < run.size(); ++k) EXPECT_EQ(run[k].crc, all[at + k].crc) << i << " " << k;
        }
    }
}

// A run replaced by another before it read anything, and a stop while the reader works: the core settles on the
// last run and hands up nothing of the others.
TEST(Demuxer, ARunReplacedAtOnceLeavesNothingBehind) {
    const oggmux::MuxResult mux = core::Mux(kKinds);
    core::OpenedCore c(mux.file);
    const std::vector<int32_t> media = MediaStreams(c.core);
    for (int32_t i = 0; i < c.core->StreamCount(); ++i) c.core->Select(i, true);
    for (DWORD run = 1; run < 20; ++run) {
        ASSERT_EQ(c.core->BeginRun(run, run % 3 ? 0 : 5000000), S_OK);
        if (run % 4 == 0) c.core->StopRun();
    }
    ASSERT_TRUE(c.Play(20, 0, media));
    core::OpenedCore whole(mux.file);
    ASSERT_TRUE(whole.Play(1, 0, media));
    for (int32_t i : media) {
        const std::vector<core::Packet> a = whole.sink->Of(i), b = c.sink->Of(i);
        ASSERT_EQ(a.size(), b.size()) << i;
        for (size_t k = 0; k < a.size(); ++k) EXPECT_EQ(a[k].crc, b[k].crc) << i << " " << k;
    }
}

// The search alone over a large file: a few reads of a few pages each, whatever the file's size; a byte source
// that fails during it leaves a usable answer (the start) rather than a crash.
TEST(SeekSearch, ReadsLittleOfALargeFileAndSurvivesFailingReads) {
    const oggmux::MuxResult mux = core::Mux(R"({"seed": 6, "streams": [
        {"kind": "ogm_video", "serial": 3, "packets": 3000, "packet_size": 6000, "key_every": 25},
        {"kind": "ogm_audio", "serial": 4, "packets": 5200, "packet_size": 400}]})");
    ASSERT_GT(mux.file.size(), 15u << 20);
    core::OpenedCore c(mux.file);
    ASSERT_EQ(c.hr, S_OK);
    COggStream* audio = c.core->FindStream(4);
    ASSERT_NE(audio, nullptr);
    LONGLONG lastPosition = -1;
    for (LONGLONG target : {100000000LL, 600000000LL, 1100000000LL}) {
        SCOPED_TRACE(target);
        const long reads = c.source->Reads();
        const uint64_t bytes = c.source->BytesRead();
        CSeekSearch search(c.core);
        LONGLONG position = -1, time = -1, wanted = 0;
        ASSERT_EQ(search.Position(&audio->Logical(), target, MaxTime, &position, &time, &wanted), S_OK);
        EXPECT_GT(position, lastPosition) << "later targets lie later in the file";
        EXPECT_LE(time, target);
        EXPECT_GT(time, target - 10000000) << "the page found is the one before the target";
        EXPECT_LT(c.source->Reads() - reads, 80);
        EXPECT_LT(c.source->BytesRead() - bytes, 2u << 20);
        lastPosition = position;
    }
    c.source->FailFrom(c.source->Reads() + 2);
    CSeekSearch search(c.core);
    LONGLONG position = -1, time = -1, wanted = 0;
    EXPECT_EQ(search.Position(&audio->Logical(), 700000000, MaxTime, &position, &time, &wanted), S_OK);
    EXPECT_GE(position, 0);
    EXPECT_LE(time, 700000000);
}

// A host that takes one stream and none of the other: the taken one plays to its end all the same, the other's
// queue stops at its limits. Once the host takes it, it delivers every packet: it reads the pages it missed
// again for itself.
TEST(Demuxer, AStreamTheHostDoesNotTakeFallsBehindAndTheOtherPlaysOn) {
    const oggmux::MuxResult mux = core::Mux(R"({"seed": 12, "streams": [
        {"kind": "ogm_video", "serial": 3, "packets": 500, "packet_size": 40000, "key_every": 25},
        {"kind": "ogm_audio", "serial": 4, "packets": 900, "packet_size": 300}]})");
    ASSERT_GT(mux.file.size(), 18u << 20);
    core::OpenedCore c(mux.file);
    ASSERT_EQ(c.hr, S_OK);
    const int32_t video = c.IndexOf(3), audio = c.IndexOf(4);
    c.sink->SetIdle(video, true);
    for (int32_t i = 0; i < c.core->StreamCount(); ++i) c.core->Select(i, true);
    ASSERT_EQ(c.core->BeginRun(1, 0), S_OK);
    ASSERT_TRUE(c.sink->Drive(c.core, 1, {audio})) << "the audio stalled behind the video nobody takes";
    EXPECT_EQ(c.sink->Of(audio).size(), mux.streams[1].packets.size());
    EXPECT_LT(c.sink->Of(video).size(), mux.streams[0].packets.size() / 2) << "the video was not held back";
    c.sink->SetIdle(video, false);
    ASSERT_TRUE(c.sink->Drive(c.core, 1, {video}));
    const std::vector<core::Packet> got = c.sink->Of(video);
    const auto& want = mux.streams[0].packets;
    ASSERT_EQ(got.size(), want.size());
    for (size_t k = 0; k < got.size(); ++k) {
        EXPECT_EQ(got[k].crc, want[k].crc32) << k;
        EXPECT_EQ(got[k].discontinuity, k == 0 ? 1 : 0) << k;
    }
}

// A new run over bytes that cannot be read again goes on from where the reader is: never back to the start, its
// first packet a discontinuity (what the run before had queued is not played), then every packet to the end. Over
// bytes that can be read again the same calls start again from the first packet.
TEST(Demuxer, ANewRunOverBytesThatCannotBeReadAgainGoesOnFromWhereTheyAre) {
    const oggmux::MuxResult mux = core::Mux(R"({"seed": 5, "streams": [
        {"kind": "ogm_audio", "serial": 4, "packets": 3000, "packet_size": 200}]})");
    const auto& want = mux.streams[0].packets;
    auto indexOf = [&](uint32_t crc) {
        for (size_t k = 0; k < want.size(); ++k)
            if (want[k].crc32 == crc) return static_cast<long>(k);
        return -1L;
    };
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable ? "seekable" : "not seekable");
        core::OpenedCore c(mux.file, seekable ? nullptr : +[](core::MemorySource* s) {
            s->NotSeekable();
            s->LengthUnknown();
        });
        ASSERT_EQ(c.hr, S_OK);
        c.core->Select(0, true);
        c.sink->Room(100);
        ASSERT_EQ(c.core->BeginRun(1, 0), S_OK);
        for (int i = 0; i < 5000 && c.sink->Of(0).size() < 100; ++i) {
            ASSERT_TRUE(SUCCEEDED(c.core->Produce(0, 1, c.sink)));
            Sleep(1);
        }
        const std::vector<core::Packet> first = c.sink->Of(0);
        ASSERT_GE(first.size(), 100u);
        ASSERT_LT(first.size(), want.size() / 2);
        const long lastOfFirst = indexOf(first.back().crc);
        c.sink->Clear();
        c.sink->Room(SIZE_MAX);
        ASSERT_EQ(c.core->BeginRun(2, 0), S_OK);
        ASSERT_TRUE(c.sink->Drive(c.core, 2, {0}));
        const std::vector<core::Packet> second = c.sink->Of(0);
        ASSERT_FALSE(second.empty());
        const long at = indexOf(second.front().crc);
        EXPECT_EQ(second.front().discontinuity, 1);
        if (seekable) {
            EXPECT_EQ(at, 0);
        } else {
            EXPECT_GT(at, lastOfFirst) << "went back";
        }
        ASSERT_EQ(second.size(), want.size() - static_cast<size_t>(at)) << "a gap within the run";
        for (size_t k = 0; k < second.size(); ++k) EXPECT_EQ(second[k].crc, want[static_cast<size_t>(at) + k].crc32) << k;
    }
}
