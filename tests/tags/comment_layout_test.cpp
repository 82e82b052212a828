// Every layout of comment header the source meets, and the mapping of comments to properties.
#include <gtest/gtest.h>

#include "tag_packets.h"

using namespace tagtest;
using tags::CommentLayout;
using tags::TagProperty;

namespace {
const std::vector<std::string> kComments = {
    "TITLE=Song", "artist=First",    "Artist=Second",     "ALBUM=Record", "GENRE=Rock",
    "genre=Pop",  "DATE=2021-05-01", "TRACKNUMBER=03/12", "LANGUAGE=fr",  "X-ODD=kept"};

void ExpectMapped(const tags::CStreamTags& s) {
    EXPECT_EQ(Utf8(s.Vendor()), "vendor 1.0");
    EXPECT_EQ(Fields(s), kComments) << "every field in file order, keys as written";
    EXPECT_EQ(Values(s, TagProperty::Title), std::vector<std::string>{"Song"});
    EXPECT_EQ(Values(s, TagProperty::Artist), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(Values(s, TagProperty::Genre), (std::vector<std::string>{"Rock", "Pop"}));
    EXPECT_EQ(Values(s, TagProperty::Album), std::vector<std::string>{"Record"});
    EXPECT_EQ(Values(s, TagProperty::Language), std::vector<std::string>{"fr"});
    uint32_t n = 0;
    ASSERT_TRUE(s.Year(&n));
    EXPECT_EQ(n, 2021u);
    ASSERT_TRUE(s.TrackNumber(&n));
    EXPECT_EQ(n, 3u);
    ASSERT_TRUE(s.TrackTotal(&n));
    EXPECT_EQ(n, 12u);
}
} // namespace

TEST(CommentLayouts, EveryLayoutGivesTheSameTags) {
    const Bytes body = CommentBody("vendor 1.0", kComments);
    struct Case {
        CommentLayout layout;
        Bytes packet;
    } cases[] = {{CommentLayout::Vorbis, VorbisComment(body)},
                 {CommentLayout::Ogm, VorbisComment(body)},
                 {CommentLayout::Theora, TheoraComment(body)},
                 {CommentLayout::Opus, OpusTags(body)},
                 {CommentLayout::Speex, body}};
    for (const Case& c : cases) {
        LoneStream t;
        ASSERT_EQ(t.stream.TakeCommentPacket(c.layout, c.packet.data(), c.packet.size()), S_OK);
        EXPECT_TRUE(t.stream.HasComments());
        ExpectMapped(t.stream);
    }
    LoneStream flac;
    const Bytes block = FlacBlock(4, body, true);
    ASSERT_EQ(flac.stream.TakeFlacMetadataBlock(block.data(), block.size()), S_OK);
    ExpectMapped(flac.stream);
}

TEST(CommentLayouts, OtherHeaderPacketsArePassedOver) {
    const Bytes body = CommentBody("v", {"TITLE=x"});
    LoneStream t;
    const Bytes ident = WithMagic(std::string("\x01vorbis", 7), Bytes(23, 0));
    EXPECT_EQ(t.stream.TakeCommentPacket(CommentLayout::Vorbis, ident.data(), ident.size()), S_FALSE);
    const Bytes theora = TheoraComment(body);
    EXPECT_EQ(t.stream.TakeCommentPacket(CommentLayout::Vorbis, theora.data(), theora.size()), S_FALSE);
    const Bytes speexHeader = WithMagic("Speex   1.2.1", Bytes(60, 0));
    EXPECT_EQ(t.stream.TakeCommentPacket(CommentLayout::Speex, speexHeader.data(), speexHeader.size()),
              S_FALSE);
    const Bytes opusHead = WithMagic("OpusHead", Bytes(11, 0));
    EXPECT_EQ(t.stream.TakeCommentPacket(CommentLayout::Opus, opusHead.data(), opusHead.size()), S_FALSE);
    EXPECT_EQ(t.stream.TakeCommentPacket(CommentLayout::Vorbis, nullptr, 0), S_FALSE);
    EXPECT_EQ(t.stream.TakeCommentPacket(CommentLayout::Vorbis, nullptr, 5), E_POINTER);
    EXPECT_FALSE(t.stream.HasComments());

    for (uint8_t type :
         {0, 1, 2, 3, 5, 127}) { // STREAMINFO, PADDING, APPLICATION, SEEKTABLE, CUESHEET, invalid
        const Bytes block = FlacBlock(type, body);
        EXPECT_EQ(t.stream.TakeFlacMetadataBlock(block.data(), block.size()), S_FALSE) << int(type);
    }
    EXPECT_EQ(t.stream.TakeFlacMetadataBlock(body.data(), 3), S_FALSE) << "shorter than a block header";
    EXPECT_FALSE(t.stream.HasComments());
}

TEST(CommentLayouts, AStreamsFirstCommentHeaderCounts) {
    LoneStream t;
    const Bytes first = VorbisComment(CommentBody("v", {"TITLE=first"}));
    const Bytes second = VorbisComment(CommentBody("v", {"TITLE=second", "ARTIST=a"}));
    ASSERT_EQ(t.stream.TakeCommentPacket(CommentLayout::Vorbis, first.data(), first.size()), S_OK);
    EXPECT_EQ(t.stream.TakeCommentPacket(CommentLayout::Vorbis, second.data(), second.size()), S_FALSE);
    EXPECT_EQ(Fields(t.stream), std::vector<std::string>{"TITLE=first"});
    const Bytes block = FlacBlock(4, CommentBody("v", {"TITLE=third"}));
    EXPECT_EQ(t.stream.TakeFlacMetadataBlock(block.data(), block.size()), S_FALSE);
}

TEST(CommentMapping, NamesAreCaseInsensitiveAndFallbacksApplyPerStream) {
    LoneStream t;
    const Bytes p = VorbisComment(CommentBody(
        "v", {"tItLe=", "Title=Second title", "TITLE=Third", "author=Speaker", "Album Artist=AA1",
              "albumartist=AA2", "ALBUM_ARTIST=AA3", "composer=C1", "COMPOSER=C2", "description=Said",
              "comment=Noted", "TOTALTRACKS=9", "TRACKTOTAL=8", "DISCNUMBER=1"}));
    ASSERT_EQ(t.stream.TakeCommentPacket(CommentLayout::Vorbis, p.data(), p.size()), S_OK);
    EXPECT_EQ(Values(t.stream, TagProperty::Title), std::vector<std::string>{"Second title"})
        << "an empty value names no property; a single-valued property takes the first of the others";
    EXPECT_EQ(Values(t.stream, TagProperty::Artist), std::vector<std::string>{"Speaker"})
        << "AUTHOR without ARTIST";
    EXPECT_EQ(Values(t.stream, TagProperty::AlbumArtist), (std::vector<std::string>{"AA1", "AA2", "AA3"}));
    EXPECT_EQ(Values(t.stream, TagProperty::Composer), (std::vector<std::string>{"C1", "C2"}));
    EXPECT_EQ(Values(t.stream, TagProperty::Comment), std::vector<std::string>{"Noted"})
        << "COMMENT before DESCRIPTION";
    uint32_t n = 0;
    EXPECT_FALSE(t.stream.TrackNumber(&n));
    ASSERT_TRUE(t.stream.TrackTotal(&n));
    EXPECT_EQ(n, 9u) << "the first of TRACKTOTAL and TOTALTRACKS in file order";
    EXPECT_EQ(t.stream.Value(TagProperty::Title, 1).text, nullptr)
        << "a single-valued property has one value";

    LoneStream both;
    const Bytes q = VorbisComment(CommentBody("v", {"AUTHOR=Speaker", "ARTIST=Singer", "DESCRIPTION=Said"}));
    ASSERT_EQ(both.stream.TakeCommentPacket(CommentLayout::Vorbis, q.data(), q.size()), S_OK);
    EXPECT_EQ(Values(both.stream, TagProperty::Artist), std::vector<std::string>{"Singer"});
    EXPECT_EQ(Values(both.stream, TagProperty::Comment), std::vector<std::string>{"Said"});
}

TEST(CommentMapping, YearAndTrackNumbers) {
    struct Case {
        std::string date, track, total;
        bool hasYear;
        uint32_t year;
        bool hasTrack;
        uint32_t track1;
        bool hasTotal;
        uint32_t total1;
    } cases[] = {
        {"2021-05-01", "03/12", "", true, 2021, true, 3, true, 12},
        {"1999", "7", "10", true, 1999, true, 7, true, 10},
        {"20210", "4294967295", "", true, 2021, true, 4294967295u, false, 0},
        {"99", "4294967296/3", "5", false, 0, false, 0, true, 5},
        {"abcd", "/12", "x", false, 0, false, 0, false, 0},
        {"199x", " 3", "", false, 0, false, 0, false, 0},
        {"0000", "0/0", "", true, 0, true, 0, true, 0},
        {"2001", "5/", "6", true, 2001, true, 5, true, 6},
    };
    for (const Case& c : cases) {
        LoneStream t;
        std::vector<std::string> comments{"DATE=" + c.date, "TRACKNUMBER=" + c.track};
        if (!c.total.empty()) comments.push_back("TRACKTOTAL=" + c.total);
        const Bytes p = OpusTags(CommentBody("v", comments));
        ASSERT_EQ(t.stream.TakeCommentPacket(CommentLayout::Opus, p.data(), p.size()), S_OK);
        uint32_t v = 12345;
        EXPECT_EQ(t.stream.Year(&v), c.hasYear) << c.date;
        if (c.hasYear) {
            EXPECT_EQ(v, c.year) << c.date;
        }
        EXPECT_EQ(t.stream.TrackNumber(&v), c.hasTrack) << c.track;
        if (c.hasTrack) {
            EXPECT_EQ(v, c.track1) << c.track;
        }
        EXPECT_EQ(t.stream.TrackTotal(&v), c.hasTotal) << c.track << " " << c.total;
        if (c.hasTotal) {
            EXPECT_EQ(v, c.total1) << c.track << " " << c.total;
        }
    }
}
