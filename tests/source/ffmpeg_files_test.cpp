// Files made by ffmpeg (libtheora, libvorbis), not by oggmux: kinds, durations and packets against ffprobe;
// seeks on them against an unseeked play.
#include <algorithm>

#include "common/fixtures.h"
#include "common/shell.h"

namespace {

// Theora (key frames every `keyint`) and Vorbis, 4 s, written by ffmpeg. Bit-exact output, for fixed serial
// numbers: ffmpeg otherwise draws them at random, and two serials that share their low 8 bits give the second
// stream no media stream of its own (stream identifiers are kept as bytes), which made these tests flaky.
std::string MakeWithFfmpeg(int keyint) {
    std::string path = std::string(::testing::TempDir()) + "/ffmpeg-g" + std::to_string(keyint) + "-" +
                       std::to_string(getpid()) + ".ogg";
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
          "-t 4 -c:v libtheora -g " + std::to_string(keyint) + " -q:v 5 -c:a libvorbis -q:a 2 -fflags +bitexact '" + path +
          "'");
    return path;
}

struct FfPacket {
    int stream;
    std::string crc;
};

nlohmann::json Ffprobe(const std::string& path) {
    return nlohmann::json::parse(
        Shell("ffprobe -v error -show_streams -show_packets -show_data_hash CRC32 -of json '" + path + "'"), nullptr, false);
}

} // namespace

using FfmpegFiles = SourceTest;

TEST_F(FfmpegFiles, KindsDurationsAndPacketsAgreeWithFfprobe) {
    const std::string path = MakeWithFfmpeg(12);
    auto ff = Ffprobe(path);
    ASSERT_FALSE(ff.is_discarded());
    OpenedSource s(path);
    ASSERT_EQ(s.hr, S_OK);
    nlohmann::json ours = Probe(s.source.Get());
    ASSERT_EQ(ours["streams"].size(), ff["streams"].size());
    std::map<std::string, DWORD> idOf;
    for (size_t i = 0; i < ff["streams"].size(); ++i) {
        const auto& f = ff["streams"][i];
        const auto& o = ours["streams"][i];
        EXPECT_EQ(o["codec"], f["codec_name"]) << "stream kinds in file order";
        idOf[f["codec_name"].get<std::string>()] = o["id"].get<DWORD>();
        // ffprobe's duration runs from the stream's start to the end of its last packet; ours is the time of
        // the last page's granule position. Both name the end of the stream here (the streams start at 0),
        // so they agree within one video frame (40 ms).
        double theirs = std::stod(f["duration"].get<std::string>());
        EXPECT_NEAR(o["end"].get<int64_t>() / 1e7, theirs, 0.041) << f["codec_name"];
    }
    // Every packet ffprobe reads is delivered, in order, with the same payload: after the three Vorbis
    // headers the source sends ahead (ffprobe keeps headers out of its packets).
    host::PlayOptions o;
    o.streams = {idOf["theora"], idOf["vorbis"]};
    host::PlayResult r = host::Play(s.source.Get(), o);
    ASSERT_TRUE(r.endOfPresentation);
    for (const char* codec : {"theora", "vorbis"}) {
        SCOPED_TRACE(codec);
        int index = -1;
        for (size_t i = 0; i < ff["streams"].size(); ++i)
            if (ff["streams"][i]["codec_name"] == codec) index = static_cast<int>(i);
        std::vector<std::string> theirs;
        for (const auto& p : ff["packets"])
            if (p["stream_index"] == index) theirs.push_back(p["data_hash"].get<std::string>().substr(6));
        std::vector<host::Sample> got = Of(r.samples, idOf[codec]);
        size_t skip = std::string(codec) == "vorbis" ? 3 : 0;
        ASSERT_EQ(got.size() - skip, theirs.size());
        for (size_t i = 0; i < theirs.size(); ++i) {
            char crc[16];
            std::snprintf(crc, sizeof crc, "%08x", got[skip + i].crc);
            EXPECT_EQ(crc, theirs[i]) << "packet " << i;
        }
        for (size_t i = skip + 1; i < got.size(); ++i) EXPECT_GE(got[i].time, got[i - 1].time) << "times go forward";
    }
}

TEST_F(FfmpegFiles, SeeksOnTheoraAndVorbisWithKeyIntervalsOf1And12And64) {
    for (int keyint : {1, 12, 64}) {
        SCOPED_TRACE(keyint);
        const std::string path = MakeWithFfmpeg(keyint);
        std::vector<host::Sample> full;
        DWORD theora = 0, vorbis = 0;
        LONGLONG firstStart = 0x7fffffffffffffffLL;
        {
            OpenedSource s(path);
            ASSERT_EQ(s.hr, S_OK);
            nlohmann::json j = Probe(s.source.Get());
            for (const auto& st : j["streams"]) {
                (st["codec"] == "theora" ? theora : vorbis) = st["id"].get<DWORD>();
                firstStart = std::min<LONGLONG>(firstStart, st["start"].get<int64_t>());
            }
            host::PlayResult r = host::Play(s.source.Get(), host::PlayOptions{});
            ASSERT_TRUE(r.endOfPresentation);
            full = r.samples;
        }
        for (LONGLONG target : {1LL, 10000000LL, 20000000LL, 35000000LL}) {
            OpenedSource s(path);
            host::PlayOptions o;
            o.startAt = true;
            o.start = target;
            host::PlayResult r = host::Play(s.source.Get(), o);
            ASSERT_TRUE(r.endOfPresentation);
            for (DWORD id : {theora, vorbis}) {
                std::vector<host::Sample> all = Of(full, id), seeked = Of(r.samples, id);
                auto first = std::find_if(seeked.begin(), seeked.end(), [](const host::Sample& x) { return x.discontinuity; });
                ASSERT_NE(first, seeked.end());
                auto at = std::find_if(all.begin(), all.end(), [&](const host::Sample& x) {
                    return x.crc == first->crc && x.time == first->time;
                });
                ASSERT_NE(at, all.end()) << "the first sample after the seek is a sample of the file";
                const size_t run = static_cast<size_t>(seeked.end() - first);
                ASSERT_EQ(static_cast<size_t>(all.end() - at), run) << "nothing lost or added after the seek";
                for (size_t i = 0; i < run; ++i) EXPECT_EQ(first[i].crc, at[i].crc);
                if (id == theora) {
                    EXPECT_TRUE(first->clean) << "video resumes at a key frame";
                }
                // Seek targets count from the presentation's first start time (the earliest first timed packet).
                EXPECT_LE(first->time, target + firstStart) << "at or before the target";
                std::printf("  pre-roll keyint %d stream %s target %.2f s: %.3f s\n", keyint, id == theora ? "theora" : "vorbis",
                            target / 1e7, (target - first->time) / 1e7);
            }
        }
    }
}
