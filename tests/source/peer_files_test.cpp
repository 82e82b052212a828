// Files made by tools nobody here wrote (ffmpeg, oggenc, oggz-chop, ogmmerge), at test time: every packet
// ffprobe reads is delivered (payload CRC-32 per stream, a contiguous run), at the time ffprobe gives it by a
// stated rule, and seeks land where a full play says they must.
//
// The rules between ffprobe's packet times and ours (pts, duration and the origin in 100-ns units):
//   Vorbis:       ours = pts + duration - origin (a Vorbis sample carries the end of its audio, duration 0);
//   Theora, OGM, Opus, FLAC, Speex: ours = pts - origin (Opus: both take the pre-skip off);
//   after a hole in a stream's pages, ffprobe carries the first packets on from before the hole, while ours are
//   timed back from the next granule: the packets of the page after a hole are not compared.
#include <algorithm>
#include <fstream>
#include <sys/stat.h>

#include "common/ffprobe.h"
#include "common/fixtures.h"
#include "common/shell.h"
#include "seek_oracle.h"

namespace {
std::string Temp(const std::string& name) {
    return std::string(::testing::TempDir()) + "/peer-" + std::to_string(getpid()) + "-" + name;
}

// Theora and Vorbis by ffmpeg, with fixed serial numbers (bit-exact output).
std::string Ffmpeg(int keyint, double seconds, const std::string& extra = "") {
    const std::string path = Temp("ff-g" + std::to_string(keyint) + extra.substr(0, 3) + ".ogg");
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
          std::to_string(seconds) + " -c:v libtheora -g " + std::to_string(keyint) +
          " -q:v 5 -c:a libvorbis -q:a 2 -fflags +bitexact " + extra + " " + Quote(path));
    return path;
}

std::string Oggenc(double seconds) {
    const std::string wav = Temp("tone.wav"), path = Temp("oggenc.ogg");
    Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=330:sample_rate=44100 -t " + std::to_string(seconds) + " -ac 2 " + Quote(wav));
    Shell("oggenc -Q --serial 4711 " + Quote(wav) + " -o " + Quote(path));
    unlink(wav.c_str());
    return path;
}

// A copy of the file without its n-th data page of the given stream.
std::string DropPage(const std::string& from, uint32_t serial, int n) {
    std::ifstream in(from, std::ios::binary);
    std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<PageRec> pages = ReadPages(from);
    std::string out;
    int own = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        const size_t end = i + 1 < pages.size() ? pages[i + 1].pos : d.size();
        if (pages[i].serial == serial && pages[i].granule > 0 && own++ == n) continue;
        out += d.substr(pages[i].pos, end - pages[i].pos);
    }
    const std::string path = Temp("dropped.ogg");
    std::ofstream(path, std::ios::binary) << out;
    return path;
}

struct Played {
    nlohmann::json probe;
    host::PlayResult result;
    std::vector<StreamTruth> truth;
    std::vector<DWORD> ids; // every stream with a media type
};

Played PlayAll(const std::string& path) {
    Played p;
    OpenedSource s(path);
    EXPECT_EQ(s.hr, S_OK) << path;
    if (FAILED(s.hr)) return p;
    p.probe = Probe(s.source.Get());
    for (const auto& st : p.probe["streams"])
        if (!st["major"].is_null()) p.ids.push_back(st["id"].get<DWORD>());
    host::PlayOptions o;
    o.streams = p.ids;
    p.result = host::Play(s.source.Get(), o);
    EXPECT_TRUE(p.result.endOfPresentation) << path;
    for (DWORD id : p.ids) p.truth.push_back(Truth(path, *StreamById(p.probe, id), p.result.samples));
    return p;
}

// Every ffprobe stream's packets are one of our streams' data samples, whole and in order, at the times the
// rules give.
void ExpectFfprobePackets(const std::string& path, const Played& ours) {
    nlohmann::json ff = Ffprobe(path);
    ASSERT_FALSE(ff.is_discarded());
    const LONGLONG origin = ours.probe["origin"].get<LONGLONG>();
    for (const auto& fs : ff["streams"]) {
        const std::string codec = fs.value("codec_name", std::string()); // a Skeleton track has none
        if (codec != "vorbis" && codec != "theora" && codec != "mpeg4" && codec != "opus" && codec != "flac" && codec != "speex")
            continue;
        SCOPED_TRACE(path + " " + codec);
        // ffprobe lists a Vorbis setup header that ogmmerge put on a page of its own among its packets; ours is
        // the third header sample sent ahead of the data: packets that are header samples of ours are left out.
        std::vector<std::string> headers;
        for (const StreamTruth& t : ours.truth) {
            std::vector<host::Sample> all = Of(ours.result.samples, t.id);
            for (size_t i = 0; i < t.headerSamples && i < all.size(); ++i) {
                char crc[16];
                std::snprintf(crc, sizeof crc, "%08x", all[i].crc);
                headers.push_back(crc);
            }
        }
        std::vector<const nlohmann::json*> packets;
        for (const auto& p : ff["packets"])
            if (p["stream_index"] == fs["index"] &&
                std::find(headers.begin(), headers.end(), p["data_hash"].get<std::string>().substr(6)) == headers.end())
                packets.push_back(&p);
        ASSERT_FALSE(packets.empty());
        const StreamTruth* match = nullptr;
        size_t at = 0;
        for (const StreamTruth& t : ours.truth) {
            const auto& s = t.pages.samples;
            for (size_t k = 0; !match && k + packets.size() <= s.size(); ++k) {
                bool all = true;
                for (size_t i = 0; all && i < packets.size(); ++i) {
                    char crc[16];
                    std::snprintf(crc, sizeof crc, "%08x", s[k + i].crc);
                    all = (*packets[i])["data_hash"].get<std::string>().substr(6) == crc;
                }
                if (all) {
                    match = &t;
                    at = k;
                }
            }
        }
        ASSERT_NE(match, nullptr) << "ffprobe's packets are not all delivered, in order, by one stream";
        EXPECT_EQ(match->pages.samples.size() - at, packets.size()) << "no more packets than ffprobe's after the first";
        std::vector<bool> skip(match->pages.samples.size(), false); // the packets of a page after a hole
        for (size_t pg = 0; pg < match->pages.pages.size(); ++pg)
            if (match->pages.afterHole[pg])
                for (size_t i = match->pages.first[pg]; i <= match->pages.last[pg] && i < skip.size(); ++i) skip[i] = true;
        for (size_t i = 0; i < packets.size(); ++i) {
            if (skip[at + i]) continue;
            LONGLONG want = FfUnits(*packets[i], "pts", fs) - origin;
            if (codec == "vorbis") want += FfUnits(*packets[i], "duration", fs);
            EXPECT_NEAR(static_cast<double>(match->pages.samples[at + i].time), static_cast<double>(want), 1.0) << "packet " << i;
        }
    }
}

// Seeks from the stopped state, each checked against the truth of the full play. The play after a seek reads the
// file from the earliest page a stream resumes at, once, and what the search reads (a search that fell back to
// byte 0 would read the whole file).
void ExpectSeeks(const std::string& path, const Played& whole, const std::vector<LONGLONG>& targets) {
    host::PlayResult r;
    for (LONGLONG target : targets) {
        SCOPED_TRACE(path + " target " + std::to_string(target));
        const uint64_t bytes = BytesOfAPlay(path, whole.ids, target, &r);
        for (const StreamTruth& t : whole.truth) EXPECT_EQ(CheckSeek(t, target, Of(r, t.id)), "");
        EXPECT_LE(bytes, SeekReadBound(path, whole.truth, target)) << "the play after the seek read more than it needs";
    }
}

std::vector<LONGLONG> Spread(const Played& p, std::initializer_list<double> shares) {
    std::vector<LONGLONG> v;
    for (double f : shares) v.push_back(static_cast<LONGLONG>(f * p.probe["duration"].get<double>()));
    // The exact hit: a page of the first audio stream that ends exactly on the target.
    for (const StreamTruth& t : p.truth)
        if (!t.keyed && t.pages.pages.size() > 4) {
            v.push_back(PageTime(t, t.pages.pages.size() / 2));
            break;
        }
    return v;
}
} // namespace

using PeerFiles = SourceTest;

TEST_F(PeerFiles, FfmpegTheoraAndVorbisWithKeyIntervalsOf1And12And64) {
    for (int keyint : {1, 12, 64}) {
        SCOPED_TRACE(keyint);
        const std::string path = Ffmpeg(keyint, 6);
        Played p = PlayAll(path);
        ASSERT_EQ(p.ids.size(), 2u);
        EXPECT_EQ(p.probe["origin"], 0) << "ffmpeg's granules start at 0";
        // Kinds in file order, and ends: ffprobe's stream duration runs from the stream's start to the end of
        // its last packet, ours is the time of the last page's granule; the streams start at 0, so both name the
        // end of the stream, within one video frame.
        nlohmann::json ff = Ffprobe(path);
        for (size_t i = 0; i < ff["streams"].size(); ++i) {
            EXPECT_EQ(p.probe["streams"][i]["codec"], ff["streams"][i]["codec_name"]);
            EXPECT_NEAR(p.probe["streams"][i]["end"].get<int64_t>() / 1e7, std::stod(ff["streams"][i]["duration"].get<std::string>()), 0.041);
        }
        ExpectFfprobePackets(path, p);
        ExpectSeeks(path, p, Spread(p, {0.3, 0.55, 0.97}));
        unlink(path.c_str());
    }
}

TEST_F(PeerFiles, OggencVorbisAndAFileThatLostAPage) {
    const std::string path = Oggenc(12);
    Played p = PlayAll(path);
    ExpectFfprobePackets(path, p);
    ExpectSeeks(path, p, Spread(p, {0.25, 0.6, 0.9}));
    // A data page removed from the middle: the packets after the hole are timed back from the next granule,
    // not dropped until it; every packet ffprobe still reads is delivered.
    const std::string dropped = DropPage(path, p.ids[0], 8);
    Played d = PlayAll(dropped);
    ExpectFfprobePackets(dropped, d);
    ASSERT_EQ(d.truth.size(), 1u);
    // Lost: the packets completed on the page that is gone, and the one it began (its tail is dropped).
    const size_t lost = p.truth[0].pages.last[8] - p.truth[0].pages.first[8] + 1;
    EXPECT_LE(d.truth[0].pages.samples.size(), p.truth[0].pages.samples.size() - lost);
    EXPECT_GE(d.truth[0].pages.samples.size() + 1, p.truth[0].pages.samples.size() - lost);
    unlink(path.c_str());
    unlink(dropped.c_str());
}

TEST_F(PeerFiles, CutAndOffsetFilesStartAtZeroAndLastTheirSpan) {
    const std::string whole = Ffmpeg(25, 10);
    // oggz-chop: seconds 4 to 7 of the file (with a Skeleton track); ffmpeg: the first 5 s moved 5 s on.
    const std::string chop = Temp("chop.ogg"), offset = Temp("offset.ogg");
    Shell("oggz-chop -s 4 -e 7 -o " + Quote(chop) + " " + Quote(whole));
    Shell("ffmpeg -v error -y -i " + Quote(whole) + " -t 5 -c copy -output_ts_offset 5 -fflags +bitexact " + Quote(offset));
    for (const std::string& path : {chop, offset}) {
        SCOPED_TRACE(path);
        Played p = PlayAll(path);
        ASSERT_EQ(p.ids.size(), 2u);
        EXPECT_GE(p.probe["origin"].get<LONGLONG>(), 20000000) << "the granules do not start at 0";
        EXPECT_LT(p.probe["duration"].get<LONGLONG>(), 60000000) << "the duration is the span";
        LONGLONG first = 0x7fffffffffffffffLL;
        for (const StreamTruth& t : p.truth) first = std::min(first, t.pages.samples.empty() ? first : t.pages.samples[0].time);
        EXPECT_EQ(first, 0) << "the first sample is at 0";
        ExpectFfprobePackets(path, p);
        ExpectSeeks(path, p, Spread(p, {0.4, 0.8}));
    }
    unlink(whole.c_str());
    unlink(chop.c_str());
    unlink(offset.c_str());
}

TEST_F(PeerFiles, OgmmergeVideoAndAudio) {
    const std::string avi = Temp("v.avi"), audio = Oggenc(10), ogm = Temp("merged.ogg");
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 10 -c:v mpeg4 -vtag XVID -g 50 -b:v 600k " + Quote(avi));
    Shell("ogmmerge -q -o " + Quote(ogm) + " " + Quote(avi) + " " + Quote(audio) + " >/dev/null 2>&1");
    Played p = PlayAll(ogm);
    ASSERT_EQ(p.ids.size(), 2u);
    ExpectFfprobePackets(ogm, p);
    ExpectSeeks(ogm, p, Spread(p, {0.251, 0.5, 0.903, 0.995}));
    unlink(avi.c_str());
    unlink(audio.c_str());
    unlink(ogm.c_str());
}

// What ffmpeg writes for today's codecs: Opus (also under Theora), FLAC and Speex. Every packet, at ffprobe's
// time; the codec and the subtype from the WAVE format tag; a stream's end against ffprobe's start plus duration
// where ffprobe is right (FLAC, Speex: the last granule; Speex starts before 0 by the encoder's look-ahead), less
// the pre-skip where it is not (Opus: ffprobe's duration keeps the pre-skip in); seeks against the truth (Opus
// with its 80 ms pre-roll).
TEST_F(PeerFiles, FfmpegOpusFlacSpeexAndTheoraWithOpus) {
    const struct {
        const char* name;
        const char* args;
        const char* codec;
        unsigned tag;
    } kinds[] = {
        {"opus.opus", "-f lavfi -i anoisesrc=d=6:r=48000:a=0.2 -c:a libopus -b:a 48k", "opus", 0x704F},
        {"flac.oga", "-f lavfi -i sine=frequency=500:sample_rate=44100:d=6 -c:a flac", "flac", 0xF1AC},
        {"speex.spx", "-f lavfi -i anoisesrc=d=6:r=16000:a=0.2 -c:a libspeex", "speex", 0xA109},
        {"theora-opus.ogv", "-f lavfi -i testsrc=size=160x120:rate=25:d=6 -f lavfi -i sine=frequency=440:sample_rate=48000:d=6 "
                            "-c:v libtheora -g 25 -c:a libopus", "opus", 0x704F},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        const std::string path = Temp(k.name);
        Shell(std::string("ffmpeg -v error -y ") + k.args + " " + Quote(path));
        Played p = PlayAll(path);
        const nlohmann::json* audio = nullptr;
        for (const auto& st : p.probe["streams"])
            if (st["major"] == "audio") audio = &st;
        ASSERT_NE(audio, nullptr) << "the audio stream has a media type";
        EXPECT_EQ((*audio)["codec"], k.codec);
        char subtype[64];
        std::snprintf(subtype, sizeof subtype, "{%08X-0000-0010-8000-00AA00389B71}", k.tag);
        EXPECT_EQ((*audio)["subtype"], subtype);
        EXPECT_EQ((*audio)["selected"], true);
        nlohmann::json ff = Ffprobe(path);
        for (const auto& fs : ff["streams"]) {
            if (fs["codec_name"] != k.codec) continue;
            double want = std::stod(fs["start_time"].get<std::string>()) + std::stod(fs["duration"].get<std::string>());
            if (fs["codec_name"] == "opus") want -= 312.0 / 48000; // libopus's pre-skip
            EXPECT_NEAR((*audio)["end"].get<int64_t>() / 1e7, want, 0.0005);
        }
        ExpectFfprobePackets(path, p);
        ExpectSeeks(path, p, Spread(p, {0.3, 0.7, 0.99}));
        unlink(path.c_str());
    }
}

// Bytes ahead of the first page (an ID3v2 tag as taggers write them, 1 KiB on an oggenc file and 100 KB, more
// than a discovery read, on an oggmux file) are passed over: every packet plays, at the same time as without
// them, and seeks land as the truth says. A Skeleton track (oggz-chop's, oggmux's) costs the open nothing: it
// reads no more than the same cut without one.
TEST_F(PeerFiles, Id3TagsAheadAndSkeletonTracks) {
    const std::string plain = Oggenc(6), tagged = Temp("tagged.ogg");
    {
        std::ifstream in(plain, std::ios::binary);
        std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string tag = std::string("ID3\x04\x00\x00", 6) + std::string("\x00\x00\x07\x76", 4) + std::string(1014, '\0');
        std::ofstream(tagged, std::ios::binary) << tag << body;
    }
    Played a = PlayAll(plain), b = PlayAll(tagged);
    ASSERT_EQ(b.ids.size(), 1u);
    ASSERT_EQ(a.result.samples.size(), b.result.samples.size());
    for (size_t i = 0; i < a.result.samples.size(); ++i) {
        EXPECT_EQ(a.result.samples[i].crc, b.result.samples[i].crc);
        EXPECT_EQ(a.result.samples[i].time, b.result.samples[i].time);
    }
    ExpectFfprobePackets(tagged, b);
    ExpectSeeks(tagged, b, Spread(b, {0.4, 0.8}));

    Fixture big = MakeFile("junk", R"({"streams": [{"kind": "theora", "serial": 1, "seconds": 2, "width": 160, "height": 120},
        {"kind": "vorbis", "serial": 2, "seconds": 2}], "damage": {"junk_prefix": 100000}})");
    Played m = PlayAll(big.path);
    ASSERT_EQ(m.ids.size(), 2u);
    for (const auto& st : big.record.streams) {
        std::vector<host::Sample> got = Of(m.result, st.serial);
        const size_t headers = st.kind == oggmux::Kind::Vorbis ? 3 : 0;
        ASSERT_EQ(got.size(), headers + st.packets.size());
        for (size_t i = 0; i < st.packets.size(); ++i) EXPECT_EQ(got[headers + i].crc, st.packets[i].crc32);
    }

    auto openBytes = [](const std::string& path) {
        Counted c(path);
        OpenedSource s(c.stream.Get());
        EXPECT_EQ(s.hr, S_OK) << path;
        return c.Bytes();
    };
    // A cut several discovery reads long, so that the open reads only the file's head and tail.
    const std::string whole = Ffmpeg(25, 40), withSkeleton = Temp("skeleton.ogg"), without = Temp("no-skeleton.ogg");
    Shell("oggz-chop -s 4 -e 34 -o " + Quote(withSkeleton) + " " + Quote(whole));
    Shell("oggz-chop -k -s 4 -e 34 -o " + Quote(without) + " " + Quote(whole));
    EXPECT_NE(Shell("head -c 64 " + Quote(withSkeleton)).find("fishead"), std::string::npos) << "oggz-chop wrote a Skeleton";
    // No more than the same cut without it, and the Skeleton's own pages.
    auto size = [](const std::string& path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return static_cast<uint64_t>(st.st_size);
    };
    EXPECT_LE(openBytes(withSkeleton), openBytes(without) + (size(withSkeleton) - size(without)));
    Played s = PlayAll(withSkeleton), k = PlayAll(without);
    EXPECT_EQ(s.ids.size(), 2u) << "the Skeleton track is no media stream";
    EXPECT_EQ(s.result.samples.size(), k.result.samples.size());
    Fixture sk = MakeFile("skeleton", R"({"streams": [{"kind": "skeleton", "serial": 9}, {"kind": "vorbis", "serial": 1, "seconds": 20},
        {"kind": "theora", "serial": 2, "seconds": 20, "width": 160, "height": 120, "noise": true}]})");
    Fixture no = MakeFile("no-skeleton", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 20},
        {"kind": "theora", "serial": 2, "seconds": 20, "width": 160, "height": 120, "noise": true}]})");
    EXPECT_LE(openBytes(sk.path), openBytes(no.path) + (sk.record.file.size() - no.record.file.size()));
    EXPECT_LT(openBytes(sk.path), sk.record.file.size() / 2) << "the open did not read the file for the Skeleton's end";
    for (const std::string& p : {plain, tagged, whole, withSkeleton, without, big.path, sk.path, no.path}) unlink(p.c_str());
}
