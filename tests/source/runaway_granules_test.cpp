// Files made by tools nobody here wrote (oggenc, ffmpeg, ogmmerge) whose last pages' granule positions were made
// to run far ahead (checksums made right again), as a muxer that writes a 32-bit -1 (2^32 - 1: 97,391 s at
// 44.1 kHz) or a damaged file carries them. Each damaged file against the same file undamaged:
//   every packet of the undamaged file (ffprobe's list, payload CRC-32 per stream) is delivered, in order;
//   the times are those of the undamaged play within 50 ms (a packet of a runaway page is timed from its
//   neighbours, so a trimmed last packet keeps its whole length), and never run backwards;
//   the duration is the undamaged one within 50 ms, not the runaway time;
//   a seek near the end (and into the runaway pages) delivers what the same seek on the undamaged file does.
// The rules between ffprobe's packets and ours are those of the peer-file tests: ffprobe lists the Vorbis setup
// header that ogmmerge put on a page of its own among its packets, ours is a header sample (left out); the
// samples we send ahead of the data (Vorbis headers) are not in ffprobe's list of data packets.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <ogg/ogg.h>
#include <sys/stat.h>

#include "common/ffprobe.h"
#include "common/fixtures.h"
#include "common/ogg_pages.h"
#include "common/shell.h"

namespace {
constexpr double kNear = 500000; // 50 ms: at most one Vorbis block at 44.1 kHz

std::string Temp(const std::string& name) {
    return std::string(::testing::TempDir()) + "/runaway-" + std::to_string(getpid()) + "-" + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A copy of the file whose k-th data page of the stream counted from its last (0: the last) gets granule
// g(k, its granule) for every k in `fromEnd`; checksums made right again.
std::string Damage(const std::string& from, uint32_t serial, const std::vector<int>& fromEnd,
                   const std::function<int64_t(int, int64_t)>& g, const std::string& name) {
    std::string d = ReadFile(from);
    std::vector<PageRec> data;
    for (const PageRec& p : ReadPages(from))
        if (p.serial == serial && p.granule > 0) data.push_back(p);
    for (int k : fromEnd) {
        if (k >= static_cast<int>(data.size())) continue;
        const PageRec& p = data[data.size() - 1 - static_cast<size_t>(k)];
        auto* h = reinterpret_cast<unsigned char*>(d.data() + p.pos);
        const uint64_t v = static_cast<uint64_t>(g(k, p.granule));
        for (int i = 0; i < 8; ++i) h[6 + i] = static_cast<unsigned char>(v >> (8 * i));
        ogg_page og{};
        og.header = h;
        og.header_len = 27 + h[26];
        og.body = h + og.header_len;
        for (int i = 0; i < h[26]; ++i) og.body_len += h[27 + i];
        ogg_page_checksum_set(&og);
    }
    const std::string path = Temp(name);
    std::ofstream(path, std::ios::binary) << d;
    return path;
}

// The serial of the stream whose first packet begins with `magic` (the codec's identification header).
uint32_t SerialOf(const std::string& path, const std::string& magic) {
    const std::string d = ReadFile(path);
    for (const PageRec& p : ReadPages(path)) {
        const size_t body = p.pos + 27 + static_cast<unsigned char>(d[p.pos + 26]);
        if (body + magic.size() <= d.size() && d.compare(body, magic.size(), magic) == 0) return p.serial;
    }
    ADD_FAILURE() << "no stream begins with " << magic.substr(1) << " in " << path;
    return 0;
}

struct Played {
    LONGLONG duration = -1;
    std::vector<DWORD> ids;
    std::vector<DWORD> video; // of those, compressed video
    host::PlayResult result;
};

Played PlayFrom(const std::string& path, LONGLONG start) {
    Played p;
    OpenedSource s(path);
    EXPECT_EQ(s.hr, S_OK) << path;
    if (FAILED(s.hr)) return p;
    const nlohmann::json probe = Probe(s.source.Get());
    if (!probe["duration"].is_null()) p.duration = probe["duration"].get<LONGLONG>();
    for (const auto& st : probe["streams"])
        if (!st["major"].is_null()) p.ids.push_back(st["id"].get<DWORD>());
    for (const auto& st : probe["streams"])
        if (st["major"] == "video") p.video.push_back(st["id"].get<DWORD>());
    host::PlayOptions o;
    o.streams = p.ids;
    o.startAt = start > 0;
    o.start = start;
    p.result = host::Play(s.source.Get(), o);
    EXPECT_TRUE(p.result.endOfPresentation) << path;
    return p;
}

std::string Hex(uint32_t crc) {
    char s[16];
    std::snprintf(s, sizeof s, "%08x", crc);
    return s;
}

// ffprobe's data packets of the undamaged file, stream by stream, are the last samples of one of our streams, in
// order (what we send ahead of them are header samples, left out of ffprobe's list where it has them).
void ExpectEveryFfprobePacket(const std::string& undamaged, const Played& ours) {
    const nlohmann::json ff = Ffprobe(undamaged);
    ASSERT_FALSE(ff.is_discarded());
    for (const auto& fs : ff["streams"]) {
        const std::string codec = fs.value("codec_name", std::string());
        if (codec != "vorbis" && codec != "theora" && codec != "mpeg4") continue;
        SCOPED_TRACE(codec);
        bool found = false;
        for (DWORD id : ours.ids) {
            const std::vector<host::Sample> mine = Of(ours.result, id);
            std::vector<std::string> crcs, headers;
            for (const host::Sample& smp : mine) crcs.push_back(Hex(smp.crc));
            for (size_t i = 0; i < 3 && i < mine.size() && codec == "vorbis"; ++i) headers.push_back(crcs[i]);
            std::vector<std::string> theirs;
            for (const auto& p : ff["packets"]) {
                const bool header = std::find(headers.begin(), headers.end(), FfCrc(p)) != headers.end();
                if (p["stream_index"] == fs["index"] && !header) theirs.push_back(FfCrc(p));
            }
            if (theirs.empty() || theirs.size() > crcs.size()) continue;
            if (!std::equal(theirs.begin(), theirs.end(), crcs.end() - static_cast<long>(theirs.size()))) continue;
            found = true;
            // Nothing of ours that ffprobe does not have ahead of them but header samples.
            EXPECT_LE(crcs.size() - theirs.size(), 3u) << "samples ahead of ffprobe's packets";
        }
        EXPECT_TRUE(found) << "ffprobe's packets of the undamaged file are not all delivered, in order, by one stream";
    }
}

// The damaged play against the undamaged one: the same samples, times near, none running backwards where the
// undamaged file's do not. `from`: the first sample compared (the samples before it are checked by the caller).
void ExpectSameSamples(const std::vector<host::Sample>& a, const std::vector<host::Sample>& b, size_t from = 0) {
    ASSERT_EQ(a.size() - from, b.size()) << "samples delivered";
    LONGLONG last = LLONG_MIN;
    int far = 0, back = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        const host::Sample& x = a[from + i];
        EXPECT_EQ(x.crc, b[i].crc) << "sample " << i;
        far += std::fabs(static_cast<double>(x.time - b[i].time)) > kNear;
        back += x.time < last && b[i].time >= last;
        if (x.time > last) last = x.time;
    }
    EXPECT_EQ(far, 0) << "samples more than 50 ms from the undamaged file's times";
    EXPECT_EQ(back, 0) << "samples earlier than one before them where the undamaged file has none";
}

void ExpectSamePlay(const Played& damaged, const Played& whole) {
    ASSERT_EQ(damaged.ids, whole.ids);
    for (DWORD id : whole.ids) {
        SCOPED_TRACE("stream " + std::to_string(id));
        ExpectSameSamples(Of(damaged.result, id), Of(whole.result, id));
    }
}

// A seek on the damaged file against the same seek on the undamaged one. Audio: the same samples. Compressed video
// resumes at a key frame named by a good page at or before the target: when the key frame the undamaged file
// resumes at lies on a runaway page, that is an earlier one; the samples from there on are the undamaged seek's.
void ExpectSameSeek(const Played& damaged, const Played& whole) {
    ASSERT_EQ(damaged.ids, whole.ids);
    for (DWORD id : whole.ids) {
        SCOPED_TRACE("stream " + std::to_string(id));
        const std::vector<host::Sample> a = Of(damaged.result, id), b = Of(whole.result, id);
        const bool video = std::find(whole.video.begin(), whole.video.end(), id) != whole.video.end();
        if (!video || a.size() <= b.size()) {
            ExpectSameSamples(a, b);
            continue;
        }
        ASSERT_FALSE(b.empty());
        EXPECT_TRUE(a.front().clean) << "video resumes at a key frame";
        EXPECT_LE(a.front().time, b.front().time);
        ExpectSameSamples(a, b, a.size() - b.size());
    }
}
} // namespace

namespace {
// Last pages of one stream made to run away, three ways: the last two at 2^32 - 1 (the end itself runs away), the
// third from last alone (a runaway followed by good pages), the last three each 97,000 s of the stream's granule
// rate further than the page before (`rate`: granules per second).
struct Runaway {
    std::string name;
    std::vector<int> pages;
    std::function<int64_t(int, int64_t)> granule;
};

std::vector<Runaway> Runaways(int64_t rate) {
    return {
        {"end", {0, 1}, [](int, int64_t) { return int64_t{0xFFFFFFFF}; }},
        {"before-end", {2}, [](int, int64_t) { return int64_t{0xFFFFFFFF}; }},
        {"growing", {0, 1, 2}, [rate](int k, int64_t g) { return g + (3 - k) * 97000 * rate; }},
    };
}

// Each damage of the stream against the undamaged file: every packet, its time, the duration, seeks near the end.
void ExpectRunawaysHandled(const std::string& path, uint32_t serial, int64_t rate) {
    const Played whole = PlayFrom(path, 0);
    ASSERT_GT(whole.duration, 0);
    const LONGLONG targets[] = {whole.duration * 90 / 100, whole.duration * 985 / 1000};
    std::vector<Played> seeks;
    for (LONGLONG t : targets) seeks.push_back(PlayFrom(path, t));
    for (const Runaway& r : Runaways(rate)) {
        SCOPED_TRACE(path + " " + r.name);
        const std::string damaged = Damage(path, serial, r.pages, r.granule, r.name + ".ogg");
        const Played d = PlayFrom(damaged, 0);
        ExpectEveryFfprobePacket(path, d);
        ExpectSamePlay(d, whole);
        EXPECT_NEAR(static_cast<double>(d.duration), static_cast<double>(whole.duration), kNear) << "the duration";
        for (size_t i = 0; i < std::size(targets); ++i) {
            SCOPED_TRACE("seek to " + std::to_string(targets[i]));
            ExpectSameSeek(PlayFrom(damaged, targets[i]), seeks[i]);
        }
        unlink(damaged.c_str());
    }
}
} // namespace

using RunawayGranules = SourceTest;

TEST_F(RunawayGranules, OggencVorbis) {
    const std::string wav = Temp("tone.wav"), path = Temp("oggenc.ogg");
    Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=330:sample_rate=44100 -t 14 -ac 2 " + Quote(wav));
    Shell("oggenc -Q --serial 4711 " + Quote(wav) + " -o " + Quote(path));
    ExpectRunawaysHandled(path, 4711, 44100);
    unlink(wav.c_str());
    unlink(path.c_str());
}

TEST_F(RunawayGranules, OgmmergeVideoAndVorbis) {
    const std::string wav = Temp("tone.wav"), audio = Temp("audio.ogg"), avi = Temp("v.avi"), ogm = Temp("merged.ogg");
    Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=330:sample_rate=44100 -t 10 -ac 2 " + Quote(wav));
    Shell("oggenc -Q --serial 4711 " + Quote(wav) + " -o " + Quote(audio));
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 10 -c:v mpeg4 -vtag XVID -g 50 -b:v 600k " +
          Quote(avi));
    Shell("ogmmerge -q -o " + Quote(ogm) + " " + Quote(avi) + " " + Quote(audio) + " >/dev/null 2>&1");
    ExpectRunawaysHandled(ogm, SerialOf(ogm, "\x01vorbis"), 44100);
    for (const std::string& f : {wav, audio, avi, ogm}) unlink(f.c_str());
}

// What an open reads of a file.
uint64_t BytesOfAnOpen(const std::string& path, LONGLONG* duration) {
    PlatRef<IFaultByteStreamControl> control;
    PlatRef<IMFByteStream> counted = CountingStream(path, &control);
    OpenedSource s(counted.Get());
    EXPECT_EQ(s.hr, S_OK) << path;
    if (FAILED(s.hr) || !control) return 0;
    const nlohmann::json probe = Probe(s.source.Get());
    *duration = probe["duration"].is_null() ? -1 : probe["duration"].get<LONGLONG>();
    uint64_t reads = 0, bytes = 0;
    control->GetCounters(&reads, &bytes);
    return bytes;
}

// A file of 9 MB whose video fills the end scan's window: the Vorbis stream's last pages there are runaways beside
// the video's. Its end is found from the pages before them, and the open reads at most what the look-back for them
// adds (windows twice as large each time up to 1 MB back, 2.3 MB in all), not the file.
TEST_F(RunawayGranules, EndScanOfALargeFileReadsLittleMore) {
    const std::string wav = Temp("tone.wav"), audio = Temp("audio.ogg"), avi = Temp("v.avi"), ogm = Temp("large.ogg");
    Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=330:sample_rate=44100 -t 60 -ac 2 " + Quote(wav));
    Shell("oggenc -Q --serial 4711 " + Quote(wav) + " -o " + Quote(audio));
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25,noise=alls=30:allf=t -t 60 -c:v mpeg4 -vtag XVID "
          "-g 50 -b:v 1200k " +
          Quote(avi));
    Shell("ogmmerge -q -o " + Quote(ogm) + " " + Quote(avi) + " " + Quote(audio) + " >/dev/null 2>&1");
    struct stat st {};
    ASSERT_EQ(stat(ogm.c_str(), &st), 0);
    ASSERT_GT(st.st_size, 6 << 20);
    LONGLONG whole = 0, damagedDuration = 0;
    const uint64_t plain = BytesOfAnOpen(ogm, &whole);
    const std::string damaged = Damage(ogm, SerialOf(ogm, "\x01vorbis"), {0, 1, 2},
                                       [](int, int64_t) { return int64_t{0xFFFFFFFF}; }, "large-end.ogg");
    const uint64_t bytes = BytesOfAnOpen(damaged, &damagedDuration);
    EXPECT_NEAR(static_cast<double>(damagedDuration), static_cast<double>(whole), kNear);
    EXPECT_LE(bytes, plain + (2400u << 10)) << "the open read " << bytes << " bytes, " << plain << " undamaged";
    for (const std::string& f : {wav, audio, avi, ogm, damaged}) unlink(f.c_str());
}

// Both streams, one at a time: Vorbis, and Theora (25 frames a second; its key frame number sits above the key frame
// shift, at most 6 bits here, so 25 << 6 granules a second run at least 97,000 s ahead).
TEST_F(RunawayGranules, FfmpegTheoraAndVorbis) {
    const std::string path = Temp("ff.ogg");
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
          "-t 10 -c:v libtheora -g 12 -q:v 5 -c:a libvorbis -q:a 2 -fflags +bitexact " +
          Quote(path));
    ExpectRunawaysHandled(path, SerialOf(path, "\x01vorbis"), 44100);
    ExpectRunawaysHandled(path, SerialOf(path, "\x80theora"), 25 << 6);
    unlink(path.c_str());
}
