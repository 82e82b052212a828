// Pictures: METADATA_BLOCK_PICTURE (base64) and FLAC PICTURE blocks, their damage and their limits.
#include <gtest/gtest.h>

#include "tag_packets.h"

using namespace tagtest;
using tags::CommentLayout;

namespace {
HRESULT TakeOpus(tags::CStreamTags* s, const std::vector<std::string>& comments) {
    const Bytes p = OpusTags(CommentBody("v", comments));
    return s->TakeCommentPacket(CommentLayout::Opus, p.data(), p.size());
}

// The same structure with one big-endian field overwritten at `at`.
Bytes PatchedBE(Bytes b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    return b;
}
} // namespace

TEST(Pictures, Base64PictureBlocksDecodeToTheirImage) {
    PictureSpec spec;
    spec.type = 3;
    spec.mime = "image/jpeg";
    spec.description = "Vorderseite \xE2\x9C\x93";
    spec.width = 600;
    spec.height = 500;
    spec.depth = 24;
    spec.colors = 0;
    spec.data = Pattern(5000);
    for (bool pad : {true, false}) {
        LoneStream t;
        const Bytes body = FlacPictureBody(spec);
        ASSERT_EQ(TakeOpus(&t.stream, {"TITLE=x", "metadata_block_picture=" + Base64(body, pad)}), S_OK);
        ASSERT_EQ(t.stream.PictureCount(), 1u);
        EXPECT_EQ(t.stream.FieldCount(), 1u) << "a picture is no text field";
        const tags::TagPicture p = t.stream.Picture(0);
        EXPECT_EQ(p.type, 3u);
        EXPECT_EQ(Utf8(p.mime), "image/jpeg");
        EXPECT_EQ(Utf8(p.description), spec.description);
        EXPECT_EQ(p.width, 600u);
        EXPECT_EQ(p.height, 500u);
        EXPECT_EQ(p.depth, 24u);
        EXPECT_EQ(Bytes(p.data, p.data + p.size), spec.data);
    }
}

TEST(Pictures, NativeFlacPictureBlocks) {
    PictureSpec spec;
    spec.type = 0;
    spec.data = Pattern(777, 5);
    LoneStream t;
    const Bytes block = FlacBlock(6, FlacPictureBody(spec), true);
    ASSERT_EQ(t.stream.TakeFlacMetadataBlock(block.data(), block.size()), S_OK);
    ASSERT_EQ(t.stream.TakeFlacMetadataBlock(block.data(), block.size()), S_OK)
        << "a stream may have several";
    ASSERT_EQ(t.stream.PictureCount(), 2u);
    EXPECT_EQ(Bytes(t.stream.Picture(1).data, t.stream.Picture(1).data + t.stream.Picture(1).size),
              spec.data);
    EXPECT_FALSE(t.stream.HasComments());
}

TEST(Pictures, TextThatIsNotBase64IsLeftOut) {
    PictureSpec spec;
    spec.data = Pattern(30);
    const std::string good = Base64(FlacPictureBody(spec));
    for (const std::string& bad :
         {good.substr(0, 10) + "*" + good.substr(11), good.substr(0, 8) + "\n" + good.substr(8),
          good.substr(0, 8) + "=" + good.substr(9), good + "A", std::string("===="), std::string()}) {
        LoneStream t;
        ASSERT_EQ(TakeOpus(&t.stream, {"METADATA_BLOCK_PICTURE=" + bad, "TITLE=after"}), S_OK);
        EXPECT_EQ(t.stream.PictureCount(), 0u) << bad;
        EXPECT_EQ(Fields(t.stream), std::vector<std::string>{"TITLE=after"});
        EXPECT_EQ(t.stream.LeftOut(), 1u);
    }
}

TEST(Pictures, AbsurdInnerLengthsAreLeftOut) {
    PictureSpec spec;
    spec.mime = "image/png";
    spec.description = "d";
    spec.data = Pattern(64);
    const Bytes body = FlacPictureBody(spec);
    const size_t mimeAt = 4, descriptionAt = 8 + spec.mime.size(), dataAt = descriptionAt + 4 + 1 + 16;
    const Bytes damaged[] = {
        PatchedBE(body, mimeAt, 0xFFFFFFFF),
        PatchedBE(body, mimeAt, 0x7FFFFFF0),
        PatchedBE(body, descriptionAt, 0xFFFFFFF0),
        PatchedBE(body, dataAt, 0xFFFFFFFF),
        PatchedBE(body, dataAt, 65),
        Bytes(body.begin(), body.begin() + 20),
        PatchedBE(body, mimeAt,
                  300), // a MIME type of 300 bytes would be in the structure, but is no MIME type
    };
    for (const Bytes& d : damaged) {
        LoneStream t;
        ASSERT_EQ(TakeOpus(&t.stream, {"METADATA_BLOCK_PICTURE=" + Base64(d)}), S_OK);
        EXPECT_EQ(t.stream.PictureCount(), 0u);
        LoneStream flac;
        const Bytes block = FlacBlock(6, d);
        EXPECT_EQ(flac.stream.TakeFlacMetadataBlock(block.data(), block.size()), S_OK);
        EXPECT_EQ(flac.stream.PictureCount(), 0u);
    }
    spec.mime = "-->"; // the data is a link, not an image
    LoneStream link;
    ASSERT_EQ(TakeOpus(&link.stream, {"METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(spec))}), S_OK);
    EXPECT_EQ(link.stream.PictureCount(), 0u);
}

// (A FLAC PICTURE block cannot state more than 16 MB - 1 in its 24-bit length: the limit is met in base64.)
TEST(Pictures, APictureAboveItsLimitIsLeftOutWhole) {
    PictureSpec spec;
    spec.data.assign(tags::kMaxPictureBytes, 0x5A);
    LoneStream exact;
    ASSERT_EQ(TakeOpus(&exact.stream, {"METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(spec))}), S_OK);
    ASSERT_EQ(exact.stream.PictureCount(), 1u) << "exactly the limit is kept";
    EXPECT_EQ(exact.stream.Picture(0).size, tags::kMaxPictureBytes);
    spec.data.push_back(0);
    LoneStream over;
    ASSERT_EQ(TakeOpus(&over.stream, {"METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(spec)), "TITLE=t"}),
              S_OK);
    EXPECT_EQ(over.stream.PictureCount(), 0u);
    EXPECT_EQ(over.stream.FieldCount(), 1u);
    EXPECT_EQ(over.stream.LeftOut(), 1u);
}

TEST(Pictures, CountAndPresentationBudget) {
    PictureSpec small;
    small.data = Pattern(10);
    std::vector<std::string> many(tags::kMaxStreamPictures + 3,
                                  "METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(small)));
    LoneStream t;
    ASSERT_EQ(TakeOpus(&t.stream, many), S_OK);
    EXPECT_EQ(t.stream.PictureCount(), tags::kMaxStreamPictures);
    EXPECT_EQ(t.stream.LeftOut(), 3u);

    PictureSpec big;
    big.data = Pattern(12 << 20);
    const std::string field = "METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(big));
    tags::CPresentationTags presentation;
    for (uint32_t serial = 0; serial < 3; ++serial) {
        tags::CStreamTags* s = nullptr;
        ASSERT_EQ(presentation.AddStream(serial, &s), S_OK);
        ASSERT_EQ(TakeOpus(s, {field}), S_OK);
    }
    EXPECT_EQ(presentation.StreamAt(0)->PictureCount(), 1u);
    EXPECT_EQ(presentation.StreamAt(1)->PictureCount(), 1u);
    EXPECT_EQ(presentation.StreamAt(2)->PictureCount(), 0u) << "36 MB would pass the presentation's 32 MB";
}

TEST(Pictures, TheCoverIsTheFirstFrontCoverElseTheFirstPictureThatIsNoIcon) {
    auto picture = [](uint32_t type, uint32_t seed) {
        PictureSpec p;
        p.type = type;
        p.data = Pattern(20, seed);
        return "METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(p));
    };
    tags::CPresentationTags presentation;
    tags::CStreamTags *a = nullptr, *b = nullptr;
    ASSERT_EQ(presentation.AddStream(10, &a), S_OK);
    ASSERT_EQ(presentation.AddStream(11, &b), S_OK);
    ASSERT_EQ(TakeOpus(a, {picture(1, 1), picture(4, 2)}), S_OK);
    tags::TagPicture cover;
    ASSERT_TRUE(presentation.Cover(&cover));
    EXPECT_EQ(cover.type, 4u) << "no front cover yet: the first that is not an icon";
    ASSERT_EQ(TakeOpus(b, {picture(0, 3), picture(3, 4), picture(3, 5)}), S_OK);
    ASSERT_TRUE(presentation.Cover(&cover));
    EXPECT_EQ(cover.type, 3u);
    EXPECT_EQ(Bytes(cover.data, cover.data + cover.size), Pattern(20, 4));

    tags::CPresentationTags icons;
    tags::CStreamTags* c = nullptr;
    ASSERT_EQ(icons.AddStream(1, &c), S_OK);
    EXPECT_FALSE(icons.Cover(&cover));
    ASSERT_EQ(TakeOpus(c, {picture(2, 6), picture(1, 7)}), S_OK);
    ASSERT_TRUE(icons.Cover(&cover));
    EXPECT_EQ(cover.type, 2u) << "an icon is better than nothing";
}
