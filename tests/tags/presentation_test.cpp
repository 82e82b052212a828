// A presentation's tags merged from its streams, and each stream's language and name.
#include <gtest/gtest.h>

#include "tag_packets.h"

using namespace tagtest;
using tags::CommentLayout;
using tags::TagProperty;

namespace {
tags::CStreamTags* Add(tags::CPresentationTags* p, uint32_t serial,
                       const std::vector<std::string>& comments) {
    tags::CStreamTags* s = nullptr;
    EXPECT_EQ(p->AddStream(serial, &s), S_OK);
    if (!s || comments.empty()) return s;
    const Bytes packet = VorbisComment(CommentBody("v", comments));
    EXPECT_EQ(s->TakeCommentPacket(CommentLayout::Vorbis, packet.data(), packet.size()), S_OK);
    return s;
}
} // namespace

TEST(PresentationTags, EachPropertyFromTheFirstStreamThatHasIt) {
    tags::CPresentationTags p;
    Add(&p, 0, {}); // a stream without comments (serial 0 is a serial like any other)
    Add(&p, 1, {"ARTIST=Video artist", "DATE=20xx", "TRACKNUMBER=x"});
    Add(&p, 2,
        {"TITLE=The film", "ARTIST=A", "ARTIST=B", "GENRE=Drama", "DATE=1999", "LANGUAGE=eng",
         "TRACKNUMBER=2"});
    Add(&p, 3, {"TITLE=Commentary", "GENRE=Talk", "LANGUAGE=fra", "TRACKNUMBER=5/9", "ALBUM=Extras"});
    EXPECT_EQ(Values(p, TagProperty::Title), std::vector<std::string>{"The film"});
    EXPECT_EQ(Values(p, TagProperty::Artist), std::vector<std::string>{"Video artist"})
        << "all values from one stream, not gathered from several";
    EXPECT_EQ(Values(p, TagProperty::Genre), std::vector<std::string>{"Drama"});
    EXPECT_EQ(Values(p, TagProperty::Album), std::vector<std::string>{"Extras"});
    EXPECT_EQ(Values(p, TagProperty::Composer), std::vector<std::string>{});
    uint32_t n = 0;
    ASSERT_TRUE(p.Year(&n));
    EXPECT_EQ(n, 1999u) << "the first stream with a year (stream 1's DATE has none)";
    ASSERT_TRUE(p.TrackNumber(&n));
    EXPECT_EQ(n, 2u);
    ASSERT_TRUE(p.TrackTotal(&n));
    EXPECT_EQ(n, 9u);

    ASSERT_EQ(p.StreamCount(), 4u);
    EXPECT_EQ(Utf8(p.StreamLanguage(2)), "eng");
    EXPECT_EQ(Utf8(p.StreamLanguage(3)), "fra");
    EXPECT_TRUE(p.StreamLanguage(0).Empty());
    EXPECT_TRUE(p.StreamName(2).Empty()) << "it only repeats the presentation's title";
    EXPECT_EQ(Utf8(p.StreamName(3)), "Commentary");
    EXPECT_TRUE(p.StreamName(1).Empty());
    EXPECT_EQ(p.FindStream(0), p.StreamAt(0));
    EXPECT_EQ(p.FindStream(3), p.StreamAt(3));
    EXPECT_EQ(p.FindStream(4), nullptr);
}

TEST(PresentationTags, StreamsAreAddedOnceAndBounded) {
    tags::CPresentationTags p;
    tags::CStreamTags* s = nullptr;
    ASSERT_EQ(p.AddStream(0xFFFFFFFFu, &s), S_OK);
    EXPECT_EQ(p.AddStream(0xFFFFFFFFu, &s), E_INVALIDARG);
    EXPECT_EQ(s, nullptr);
    for (uint32_t serial = 0; serial + 1 < tags::kMaxTagStreams; ++serial)
        ASSERT_EQ(p.AddStream(serial, &s), S_OK);
    EXPECT_EQ(p.AddStream(1000, &s), E_INVALIDARG);
    EXPECT_EQ(p.StreamCount(), tags::kMaxTagStreams);
    EXPECT_EQ(p.AddStream(1, nullptr), E_POINTER);
}

TEST(PresentationTags, NothingAtAll) {
    tags::CPresentationTags p;
    EXPECT_EQ(p.ValueCount(TagProperty::Title), 0u);
    EXPECT_TRUE(p.Value(TagProperty::Title).Empty());
    uint32_t n = 7;
    EXPECT_FALSE(p.Year(&n));
    EXPECT_FALSE(p.TrackNumber(&n));
    EXPECT_EQ(n, 7u);
    tags::TagPicture cover;
    EXPECT_FALSE(p.Cover(&cover));
}
