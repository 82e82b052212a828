// Chained files: links one after the other, made at test time by `cat` of files oggenc wrote (links of other
// rates and channel counts), and by oggmux for the corner cases (a link without the video, a codec that matches
// nothing). Each link's packets are ffprobe's packets of the file the link was cut from (ffprobe reads a chain's
// times wrong, so each link is compared with its own file): its header samples again ahead of its first sample,
// which is a discontinuity; its times on from the end of the link before; a new format announced before it.
#include <algorithm>
#include <numeric>
#include <sys/stat.h>

#include "common/ffprobe.h"
#include "common/fixtures.h"
#include "common/shell.h"
#include "seek_oracle.h"

namespace {
std::string Temp(const std::string& name) {
    return std::string(::testing::TempDir()) + "/chain-" + std::to_string(getpid()) + "-" + name;
}

struct Link {
    std::string path;
    nlohmann::json ff; // ffprobe of the link's own file
    LONGLONG duration = 0;
    uint32_t serial = 0;
    int rate = 0, channels = 0;
};

Link Oggenc(const std::string& name, double seconds, int rate, int channels, uint32_t serial) {
    Link l;
    const std::string wav = Temp(name + ".wav");
    l.path = Temp(name + ".ogg");
    Shell("ffmpeg -v error -y -f lavfi -i anoisesrc=d=" + std::to_string(seconds) + ":r=" + std::to_string(rate) +
          ":a=0.3 -ac " + std::to_string(channels) + " " + Quote(wav));
    Shell("oggenc -Q --serial " + std::to_string(serial) + " " + Quote(wav) + " -o " + Quote(l.path));
    unlink(wav.c_str());
    l.ff = Ffprobe(l.path);
    const auto& s = l.ff["streams"][0];
    l.duration = FfUnits(s, "duration_ts", s); // oggenc's granules start at 0
    l.serial = serial;
    l.rate = rate;
    l.channels = channels;
    return l;
}

std::string Cat(const std::vector<Link>& links, const std::string& name) {
    std::string command = "cat";
    for (const Link& l : links) command += " " + Quote(l.path);
    const std::string path = Temp(name);
    Shell(command + " > " + Quote(path));
    return path;
}

uint64_t FileSize(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return static_cast<uint64_t>(st.st_size);
}

std::string Crc(const host::Sample& s) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", s.crc);
    return crc;
}

// Where each link's samples begin in a play of a one-stream chain: its three header samples, then its data.
std::vector<size_t> LinkStarts(const std::vector<host::Sample>& all, size_t links) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < all.size() && starts.size() < links; ++i)
        if (all[i].discontinuity && i >= 3) starts.push_back(i - 3);
    return starts;
}

// The index in a full play where a seek to target must resume: the audio rule of seek_oracle.h within the link
// that plays at the target (the headers of that link come first).
size_t ExpectedInChain(const std::string& path, const std::vector<Link>& links, const std::vector<host::Sample>& all,
                       const std::vector<size_t>& starts, const std::vector<LONGLONG>& linkStart, LONGLONG target) {
    size_t k = 0;
    while (k + 1 < links.size() && linkStart[k + 1] <= target) ++k;
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : all.size();
    StreamTruth t;
    t.endsWithItsPages = true;
    t.audio = t.packetBefore = true; // Vorbis links
    t.headerSamples = 3;
    t.pages = MatchPages(ReadPages(path), links[k].serial, 3,
                         std::vector<host::Sample>(all.begin() + static_cast<long>(starts[k]), all.begin() + static_cast<long>(end)), 3);
    const size_t first = ExpectedFirst(t, target);
    return first >= t.pages.samples.size() ? end : starts[k] + 3 + first;
}
} // namespace

using Chains = SourceTest;

TEST_F(Chains, OggencLinksOfOtherRatesPlayWholeAndSeekAcrossThem) {
    const std::vector<Link> links = {Oggenc("a", 3, 44100, 2, 1001), Oggenc("b", 4, 22050, 1, 2002), Oggenc("c", 2.5, 44100, 2, 3003)};
    const std::string path = Cat(links, "abc.ogg");
    OpenedSource s(path);
    ASSERT_EQ(s.hr, S_OK);
    nlohmann::json probe = Probe(s.source.Get());
    ASSERT_EQ(probe["streams"].size(), 1u) << "the later links continue the first link's stream";
    const DWORD id = probe["streams"][0]["id"].get<DWORD>();
    // The duration is the links' durations together; each link is listed where it begins.
    std::vector<LONGLONG> linkStart = {0};
    for (size_t k = 0; k + 1 < links.size(); ++k) linkStart.push_back(linkStart.back() + links[k].duration);
    EXPECT_EQ(probe["duration"].get<LONGLONG>(), linkStart.back() + links.back().duration);
    ASSERT_EQ(probe["links"].size(), links.size());
    uint64_t offset = 0;
    for (size_t k = 0; k < links.size(); ++k) {
        EXPECT_EQ(probe["links"][k]["offset"].get<uint64_t>(), offset);
        EXPECT_EQ(probe["links"][k]["start"].get<LONGLONG>(), linkStart[k]);
        EXPECT_EQ(probe["links"][k]["streams"][0]["serial"].get<uint32_t>(), links[k].serial);
        offset += FileSize(links[k].path);
    }

    host::Player player(s.source.Get()); // one host for every play of the source
    host::PlayResult full = player.Play(host::PlayOptions{});
    ASSERT_TRUE(full.endOfPresentation);
    EXPECT_EQ(full.endOfStream[id], 1) << "one end, after the last link";
    const std::vector<host::Sample>& all = full.samples;
    const std::vector<size_t> starts = LinkStarts(all, links.size());
    ASSERT_EQ(starts.size(), links.size());
    for (size_t k = 0; k < links.size(); ++k) {
        SCOPED_TRACE("link " + std::to_string(k));
        const size_t end = k + 1 < links.size() ? starts[k + 1] : all.size();
        const auto& fs = links[k].ff["streams"][0];
        const auto& packets = links[k].ff["packets"];
        ASSERT_EQ(end - starts[k] - 3, packets.size()) << "every packet of the link, nothing else";
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(all[starts[k] + i].time, 0) << "its header samples";
        for (size_t i = 0; i < packets.size(); ++i) {
            const host::Sample& got = all[starts[k] + 3 + i];
            ASSERT_EQ(Crc(got), FfCrc(packets[i])) << "packet " << i;
            // Vorbis: ours = pts + duration (the end of the packet's audio), on from the link's start.
            // (each value rounded to 100 ns on its own: within 2 units)
            EXPECT_NEAR(static_cast<double>(got.time),
                        static_cast<double>(linkStart[k] + FfUnits(packets[i], "pts", fs) + FfUnits(packets[i], "duration", fs)), 2.0)
                << "packet " << i;
            EXPECT_EQ(got.discontinuity, i == 0);
        }
    }
    // Each link whose format differs from the one before announces it ahead of its first sample (its headers).
    ASSERT_EQ(full.formatChanges.size(), 2u);
    EXPECT_EQ(full.formatChanges[0].beforeSample, starts[1]);
    EXPECT_EQ(full.formatChanges[0].sampleRate, 22050u);
    EXPECT_EQ(full.formatChanges[0].channels, 1u);
    EXPECT_EQ(full.formatChanges[1].beforeSample, starts[2]);
    EXPECT_EQ(full.formatChanges[1].sampleRate, 44100u);
    EXPECT_EQ(full.formatChanges[1].channels, 2u);

    // Seeks into each link, onto a link's first sample and past the end: the rest of the full play from where the
    // page rule says, the link's headers ahead; a link of another format than the stream's type is announced first.
    const std::vector<LONGLONG> targets = {linkStart[0] + 15000000, linkStart[1], linkStart[1] + 21000000, linkStart[2] + 12500000,
                                           linkStart[2] + links[2].duration + 10000000};
    for (LONGLONG target : targets) {
        SCOPED_TRACE("target " + std::to_string(target));
        host::PlayOptions o;
        o.startAt = true;
        o.start = target;
        host::PlayResult r = player.Play(o);
        ASSERT_TRUE(r.endOfPresentation);
        const size_t want = target >= probe["duration"].get<LONGLONG>() ? all.size()
                                                                         : ExpectedInChain(path, links, all, starts, linkStart, target);
        if (want >= all.size()) {
            EXPECT_TRUE(r.samples.empty()) << "nothing is left";
            continue;
        }
        size_t k = 0;
        while (k + 1 < starts.size() && starts[k + 1] <= want) ++k;
        ASSERT_EQ(r.samples.size(), 3 + all.size() - want);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Crc(r.samples[i]), Crc(all[starts[k] + i])) << "the link's headers first";
        for (size_t i = 3; i < r.samples.size(); ++i) {
            ASSERT_EQ(Crc(r.samples[i]), Crc(all[want + i - 3])) << "sample " << i;
            ASSERT_EQ(r.samples[i].time, all[want + i - 3].time) << "sample " << i;
        }
        EXPECT_LE(r.samples[3].time, target);
        const bool announced = !r.formatChanges.empty() && r.formatChanges[0].beforeSample == 0;
        EXPECT_EQ(announced, k == 1) << "only the 22.05 kHz link differs from the stream's type";
    }
    unlink(path.c_str());
    for (const Link& l : links) unlink(l.path.c_str());
}

// oggmux chains: video and audio in the first link, audio alone (and an Opus stream that matches nothing) in the
// second, video of another size and audio in the third. The video goes on in the third link, its new size
// announced; the Opus stream is not played; the whole presentation lasts the three links.
TEST_F(Chains, LinksWithoutAStreamAndStreamsThatMatchNothing) {
    Fixture f = MakeFile("mixed", R"({"links": [
        {"streams": [{"kind": "theora", "serial": 1, "seconds": 2, "width": 160, "height": 120},
                     {"kind": "vorbis", "serial": 2, "seconds": 2}]},
        {"streams": [{"kind": "vorbis", "serial": 3, "seconds": 1.5, "rate": 22050, "channels": 1},
                     {"kind": "opus", "serial": 4, "seconds": 1.5}]},
        {"streams": [{"kind": "theora", "serial": 5, "seconds": 1, "width": 96, "height": 64},
                     {"kind": "vorbis", "serial": 6, "seconds": 1}]}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    nlohmann::json probe = Probe(s.source.Get());
    ASSERT_EQ(probe["streams"].size(), 2u);
    EXPECT_EQ(probe["duration"].get<LONGLONG>(), 45000000);
    ASSERT_EQ(probe["links"].size(), 3u);
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(probe["links"][k]["offset"].get<size_t>(), f.record.linkOffsets[k]);
    EXPECT_EQ(probe["links"][1]["streams"][1]["codec"], "opus");
    EXPECT_EQ(probe["links"][1]["streams"][1]["played"], false);
    EXPECT_EQ(probe["links"][1]["streams"][0]["played"], true);

    host::Player player(s.source.Get());
    host::PlayResult r = player.Play(host::PlayOptions{});
    ASSERT_TRUE(r.endOfPresentation);
    auto packets = [&](uint32_t serial) {
        for (const auto& st : f.record.streams)
            if (st.serial == serial) return st.packets;
        return std::vector<oggmux::PacketRecord>{};
    };
    // The video: the first link's frames, then the third's from 3.5 s, each a payload oggmux wrote.
    std::vector<host::Sample> video = Of(r, 1), audio = Of(r, 2);
    std::vector<oggmux::PacketRecord> want = packets(1), third = packets(5);
    want.insert(want.end(), third.begin(), third.end());
    ASSERT_EQ(video.size(), want.size());
    for (size_t i = 0; i < video.size(); ++i) EXPECT_EQ(video[i].crc, want[i].crc32) << "frame " << i;
    const size_t thirdAt = packets(1).size();
    EXPECT_EQ(video[thirdAt].time, 35000000);
    EXPECT_TRUE(video[thirdAt].discontinuity && video[thirdAt].clean);
    ASSERT_EQ(r.formatChanges.size(), 3u) << "the video's new size, the audio's rate down and up again";
    bool videoChange = false;
    for (const host::FormatChange& c : r.formatChanges)
        if (c.stream == 1) {
            videoChange = true;
            EXPECT_EQ(c.width, 96u);
            EXPECT_EQ(c.height, 64u);
        }
    EXPECT_TRUE(videoChange);
    // The audio: every link's packets (three headers ahead of each link), and no Opus packet.
    size_t data = 0;
    for (const host::Sample& a : audio) data += a.time != 0 || a.clean;
    EXPECT_EQ(data, packets(2).size() + packets(3).size() + packets(6).size());
    EXPECT_EQ(audio.back().time, 45000000);
    EXPECT_EQ(r.endOfStream[1], 1);
    EXPECT_EQ(r.endOfStream[2], 1);

    // A seek into the second link: the video, absent there, resumes at the third link's first frame.
    host::PlayOptions o;
    o.startAt = true;
    o.start = 28000000;
    host::PlayResult seeked = player.Play(o);
    ASSERT_TRUE(seeked.endOfPresentation);
    std::vector<host::Sample> v = Of(seeked, 1);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0].time, 35000000);
    EXPECT_EQ(v[0].crc, third[0].crc32);
    std::vector<host::Sample> a = Of(seeked, 2);
    ASSERT_GT(a.size(), 3u);
    EXPECT_LE(a[3].time, 28000000);
    // In the second link (whose first Vorbis packet, timed back from its granule, ends 3.5 ms before the link's start,
    // as a first link's would end before 0 but for the origin).
    EXPECT_GT(a[3].time, 19900000) << "in the second link";
}

// A chain read once (a byte stream that cannot seek, of unknown length; and the same from the network, where it is a
// broadcast): no link is known at the open, each is found as the reader meets it. Every stream plays as it plays
// from the file read anywhere (the same samples, times and flags, the same format changes), each later link's
// arrival is announced once (MESourceMetadataChanged), and a broadcast whose streams end on their last pages ends
// cleanly.
TEST_F(Chains, AChainReadOnceFindsItsLinksAsItGoes) {
    const std::vector<Link> links = {Oggenc("once-a", 2, 44100, 2, 71), Oggenc("once-b", 2.5, 22050, 1, 72)};
    const std::string oggenc = Cat(links, "once-ab.ogg");
    Fixture mixed = MakeFile("once-mixed", R"({"links": [
        {"streams": [{"kind": "theora", "serial": 1, "seconds": 2, "width": 160, "height": 120},
                     {"kind": "vorbis", "serial": 2, "seconds": 2}]},
        {"streams": [{"kind": "vorbis", "serial": 3, "seconds": 1.5, "rate": 22050, "channels": 1},
                     {"kind": "opus", "serial": 4, "seconds": 1.5}]},
        {"streams": [{"kind": "theora", "serial": 5, "seconds": 1, "width": 96, "height": 64},
                     {"kind": "vorbis", "serial": 6, "seconds": 1}]}]})");
    for (const auto& [path, linkCount] : {std::pair<std::string, int>{oggenc, 2}, {mixed.path, 3}}) {
        OpenedSource whole(path);
        ASSERT_EQ(whole.hr, S_OK);
        const host::PlayResult want = host::Play(whole.source.Get(), host::PlayOptions{});
        ASSERT_TRUE(want.endOfPresentation);
        for (bool remote : {false, true}) {
            SCOPED_TRACE(path + (remote ? ", from the network" : ", read once"));
            FaultConfig c;
            c.notSeekable = true;
            c.lengthUnknown = true;
            c.remote = remote;
            OpenedSource s(CountingStream(path, nullptr, &c).Get());
            ASSERT_EQ(s.hr, S_OK);
            DWORD characteristics = 0;
            ASSERT_EQ(s->GetCharacteristics(&characteristics), S_OK);
            EXPECT_EQ(characteristics, MFMEDIASOURCE_CAN_PAUSE | (remote ? MFMEDIASOURCE_IS_LIVE : 0u));
            EXPECT_EQ(Probe(s.source.Get())["duration"], nullptr);
            const host::PlayResult r = host::Play(s.source.Get(), host::PlayOptions{});
            EXPECT_EQ(r.status, S_OK) << host::HResultText(r.status);
            ASSERT_TRUE(r.endOfPresentation);
            EXPECT_EQ(std::count(r.sourceEvents.begin(), r.sourceEvents.end(), MESourceMetadataChanged), linkCount - 1);
            for (const auto& [id, ends] : want.endOfStream) {
                const std::vector<host::Sample> a = Of(want, id), b = Of(r, id);
                ASSERT_EQ(a.size(), b.size()) << "stream " << id;
                for (size_t i = 0; i < a.size(); ++i) {
                    EXPECT_EQ(a[i].crc, b[i].crc) << id << " " << i;
                    EXPECT_EQ(a[i].time, b[i].time) << id << " " << i;
                    EXPECT_EQ(a[i].discontinuity, b[i].discontinuity) << id << " " << i;
                }
                EXPECT_EQ(r.endOfStream.at(id), ends);
            }
            // Each stream's format changes in its order (the streams' events interleave as their threads run).
            auto changes = [](const host::PlayResult& p) {
                std::map<DWORD, std::vector<std::string>> out;
                for (const host::FormatChange& c : p.formatChanges)
                    out[c.stream].push_back(std::to_string(c.sampleRate) + "/" + std::to_string(c.channels) + " " +
                                            std::to_string(c.width) + "x" + std::to_string(c.height));
                return out;
            };
            EXPECT_EQ(changes(r), changes(want));
        }
    }
    unlink(oggenc.c_str());
    for (const Link& l : links) unlink(l.path.c_str());
}
