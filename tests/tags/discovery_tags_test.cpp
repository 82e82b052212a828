// The tags as the core's open collects them: files made by oggenc and vorbiscomment (a megabyte cover ahead
// of the setup header), read from a file that can be read anywhere and from bytes read once; a comment header
// damaged in the middle; a header beyond the open's cap.
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "common/shell.h"
#include "ogg/core_fixtures.h"
#include "tags/ogg_headers.h"

using namespace tagtest;
using tags::TagProperty;

namespace {
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> WithoutPictures(const std::vector<std::string>& comments) {
    std::vector<std::string> kept;
    for (const std::string& c : comments)
        if (strncasecmp(c.c_str(), "METADATA_BLOCK_PICTURE=", 23) != 0) kept.push_back(c);
    return kept;
}

std::vector<std::string> AllValues(const tags::CPresentationTags& p, TagProperty property) {
    std::vector<std::string> v;
    for (size_t i = 0; i < p.ValueCount(property); ++i)
        v.push_back(Utf8(p.Value(property, i)));
    return v;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every packet of a file of one stream, with its granule position.
struct StreamDump {
    uint32_t serial = 0;
    std::vector<Bytes> packets;
    std::vector<int64_t> granules;
};

StreamDump ReadAllPackets(const std::vector<uint8_t>& file) {
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buffer, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    StreamDump d;
    ogg_stream_state os;
    bool started = false;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!started) {
            d.serial = static_cast<uint32_t>(ogg_page_serialno(&page));
            ogg_stream_init(&os, static_cast<int>(d.serial));
            started = true;
        }
        ogg_stream_pagein(&os, &page);
        ogg_packet packet;
        while (ogg_stream_packetout(&os, &packet) == 1) {
            d.packets.emplace_back(packet.packet, packet.packet + packet.bytes);
            d.granules.push_back(packet.granulepos);
        }
    }
    if (started) ogg_stream_clear(&os);
    ogg_sync_clear(&sync);
    return d;
}

// Packets back into pages (libogg's own paging), every stream's pages one after the other per packet: enough
// for a file of one stream.
std::vector<uint8_t> Repage(uint32_t serial, const std::vector<Bytes>& packets,
                            const std::vector<int64_t>& granules) {
    ogg_stream_state os;
    ogg_stream_init(&os, static_cast<int>(serial));
    std::vector<uint8_t> out;
    ogg_page page;
    for (size_t i = 0; i < packets.size(); ++i) {
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(packets[i].data());
        p.bytes = static_cast<long>(packets[i].size());
        p.b_o_s = i == 0;
        p.e_o_s = i + 1 == packets.size();
        p.granulepos = granules[i];
        p.packetno = static_cast<ogg_int64_t>(i);
        ogg_stream_packetin(&os, &p);
        // The headers end their pages (the first page holds the identification header alone).
        const bool flush = i < 3;
        while (flush ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) {
            out.insert(out.end(), page.header, page.header + page.header_len);
            out.insert(out.end(), page.body, page.body + page.body_len);
        }
    }
    while (ogg_stream_flush(&os, &page)) {
        out.insert(out.end(), page.header, page.header + page.header_len);
        out.insert(out.end(), page.body, page.body + page.body_len);
    }
    ogg_stream_clear(&os);
    return out;
}

class DiscoveryTags : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/oggsource-dtags-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i sine=f=440:d=2 -ac 2 " + Path("in.wav")), 0);
        ASSERT_EQ(
            Run("oggenc -Q -t 'Ein Titel' -a 'First' -c 'ARTIST=Second' -l Album -G Rock -N 3 -d 2001-05-06 "
                "-c 'LANGUAGE=de' -o " +
                Path("plain.ogg") + " " + Path("in.wav")),
            0);
    }
    void TearDown() override { std::system(("rm -rf " + Quote(m_dir)).c_str()); }
    std::string Path(const std::string& name) const { return Quote(m_dir + "/" + name); }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    static int Run(const std::string& command) { return RunShell(command + " >/dev/null 2>&1").status; }
    static std::string Output(const std::string& command) {
        ShellOutput o = RunShell("LC_ALL=C.UTF-8 " + command + " 2>/dev/null");
        EXPECT_EQ(o.status, 0) << command;
        return o.text;
    }
    // A megabyte cover written ahead of the setup header by vorbiscomment into big.ogg; its image bytes.
    Bytes AddBigCover() {
        EXPECT_EQ(Run("ffmpeg -v error -y -f lavfi -i 'nullsrc=s=800x600,geq=random(1)*255:random(1)*255:"
                      "random(1)*255' -frames:v 1 " +
                      Path("big.png")),
                  0);
        PictureSpec cover;
        cover.data = ReadFile(File("big.png"));
        EXPECT_GT(cover.data.size(), 1000000u);
        std::string existing = Output("vorbiscomment -l -R " + Path("plain.ogg"));
        {
            std::ofstream comments(File("comments.txt"), std::ios::binary);
            comments << existing << "METADATA_BLOCK_PICTURE=" << Base64(FlacPictureBody(cover)) << "\n";
        }
        EXPECT_EQ(Run("vorbiscomment -w -R -c " + Path("comments.txt") + " " + Path("plain.ogg") + " " +
                      Path("big.ogg")),
                  0);
        return cover.data;
    }
    void ExpectOggencTags(const tags::CPresentationTags* p, const std::string& file) {
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->StreamCount(), 1u);
        EXPECT_EQ(Fields(*p->StreamAt(0)),
                  WithoutPictures(Lines(Output("vorbiscomment -l -R " + Path(file)))));
        EXPECT_EQ(AllValues(*p, TagProperty::Title), std::vector<std::string>{"Ein Titel"});
        // Every ARTIST the tool lists, in its order (oggenc writes its -c comments first).
        std::vector<std::string> artists;
        for (const std::string& line : Lines(Output("vorbiscomment -l -R " + Path(file))))
            if (strncasecmp(line.c_str(), "ARTIST=", 7) == 0) artists.push_back(line.substr(7));
        EXPECT_EQ(artists.size(), 2u);
        EXPECT_EQ(AllValues(*p, TagProperty::Artist), artists);
        EXPECT_EQ(AllValues(*p, TagProperty::Album), std::vector<std::string>{"Album"});
        EXPECT_EQ(AllValues(*p, TagProperty::Genre), std::vector<std::string>{"Rock"});
        uint32_t n = 0, year = 0;
        EXPECT_TRUE(p->TrackNumber(&n));
        EXPECT_EQ(n, 3u);
        EXPECT_TRUE(p->Year(&year));
        EXPECT_EQ(year, 2001u);
        EXPECT_EQ(Utf8(p->StreamLanguage(0)), "de");
    }

    std::string m_dir;
};

TEST_F(DiscoveryTags, OggencTagsReachTheLinkRecord) {
    core::OpenedCore c(ReadFile(File("plain.ogg")));
    ASSERT_EQ(c.hr, S_OK);
    ExpectOggencTags(c.core->LinkTags(0), "plain.ogg");
    EXPECT_EQ(c.core->LinkTags(1), nullptr);
    tags::TagPicture cover;
    EXPECT_FALSE(c.core->LinkTags(0)->Cover(&cover));
}

// The comment header spans some 1.4 MB ahead of the setup header: the open reads on past its window for it.
TEST_F(DiscoveryTags, AMegabyteCoverAheadOfTheSetupHeader) {
    const Bytes image = AddBigCover();
    for (bool readOnce : {false, true}) {
        SCOPED_TRACE(readOnce ? "read once" : "seekable");
        void (*setUp)(core::MemorySource*) = [](core::MemorySource* s) { s->NotSeekable(); };
        core::OpenedCore c(ReadFile(File("big.ogg")), readOnce ? setUp : nullptr);
        ASSERT_EQ(c.hr, S_OK);
        ASSERT_EQ(c.core->StreamCount(), 1);
        EXPECT_TRUE(c.core->Stream(0)->Logical().IsMediaStream());
        ExpectOggencTags(c.core->LinkTags(0), "big.ogg");
        tags::TagPicture cover;
        ASSERT_TRUE(c.core->LinkTags(0)->Cover(&cover));
        EXPECT_EQ(Bytes(cover.data, cover.data + cover.size), image);
        // The stream plays from its first packet: bytes read once are served again after the long header.
        EXPECT_TRUE(c.Play(1, 0, {0}));
        EXPECT_GT(c.sink->Of(0).size(), 10u);
    }
}

// A comment whose stated length runs past the packet: the stream still plays, the comments before it are
// kept.
TEST_F(DiscoveryTags, ACommentRunningPastThePacket) {
    StreamDump d = ReadAllPackets(ReadFile(File("plain.ogg")));
    std::vector<Bytes>& packets = d.packets;
    ASSERT_GT(packets.size(), 10u);
    // A third comment stated at 1000 bytes of which a few are there.
    Bytes body = CommentBody("vendor", {"TITLE=Kept", "ARTIST=Also kept"}, 3);
    PutLE32(&body, 1000);
    Put(&body, "GENRE=Lost");
    packets[1] = VorbisComment(body);
    core::OpenedCore c(Repage(d.serial, packets, d.granules));
    ASSERT_EQ(c.hr, S_OK);
    ASSERT_EQ(c.core->StreamCount(), 1);
    const tags::CPresentationTags* p = c.core->LinkTags(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Fields(*p->StreamAt(0)), (std::vector<std::string>{"TITLE=Kept", "ARTIST=Also kept"}));
    EXPECT_EQ(p->ValueCount(TagProperty::Genre), 0u);
    // As many packets as the file before the damage gives.
    core::OpenedCore plain(ReadFile(File("plain.ogg")));
    ASSERT_EQ(plain.hr, S_OK);
    ASSERT_TRUE(plain.Play(1, 0, {0}));
    EXPECT_TRUE(c.Play(1, 0, {0}));
    EXPECT_GT(plain.sink->Of(0).size(), 10u);
    EXPECT_EQ(c.sink->Of(0).size(), plain.sink->Of(0).size());
}
} // namespace

namespace {
// An OpusTags of some 12 MB (a 9 MB picture in base64) lies beyond the open's 8 MB: left out with its tags,
// while the stream (described by its OpusHead) opens and plays.
TEST_F(DiscoveryTags, ACommentHeaderBeyondTheCapIsLeftOutNotTheStream) {
    ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i 'nullsrc=s=2400x1800,geq=random(1)*255:random(1)*255:"
                  "random(1)*255' -frames:v 1 " +
                  Path("huge.png")),
              0);
    ASSERT_GT(ReadFile(File("huge.png")).size(), 8u << 20);
    ASSERT_EQ(Run("opusenc --quiet --title Lost --picture " + Path("huge.png") + " " + Path("in.wav") + " " +
                  Path("huge.opus")),
              0);
    ASSERT_GT(ReadFile(File("huge.opus")).size(), 11u << 20);
    ASSERT_EQ(Run("opusenc --quiet --title Kept " + Path("in.wav") + " " + Path("small.opus")), 0);
    core::OpenedCore small(ReadFile(File("small.opus")));
    ASSERT_EQ(small.hr, S_OK);
    ASSERT_NE(small.core->LinkTags(0), nullptr);
    EXPECT_EQ(AllValues(*small.core->LinkTags(0), TagProperty::Title), std::vector<std::string>{"Kept"});
    core::OpenedCore c(ReadFile(File("huge.opus")));
    ASSERT_EQ(c.hr, S_OK);
    ASSERT_EQ(c.core->StreamCount(), 1);
    EXPECT_TRUE(c.core->Stream(0)->Logical().IsMediaStream());
    const tags::CPresentationTags* p = c.core->LinkTags(0);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->StreamCount(), 1u);
    EXPECT_FALSE(p->StreamAt(0)->HasComments());
    EXPECT_EQ(p->ValueCount(TagProperty::Title), 0u);
    tags::TagPicture cover;
    EXPECT_FALSE(p->Cover(&cover));
    ASSERT_TRUE(small.Play(1, 0, {0}));
    EXPECT_TRUE(c.Play(1, 0, {0}));
    EXPECT_EQ(c.sink->Of(0).size(), small.sink->Of(0).size());
}
} // namespace
