// What a thumbnail shows, without the image codecs: the cover chosen from the tags (and copied out of them)
// and the size it is drawn at for a request of cx pixels.
#include <cstdlib>
#include <gtest/gtest.h>

#include "shell/thumbnail_cover.h"
#include "tag_packets.h"

using namespace tagtest;

namespace {
// A stream whose comment header carries these pictures (METADATA_BLOCK_PICTURE), each an image of its own.
void AddStream(tags::CPresentationTags* p, uint32_t serial, const std::vector<PictureSpec>& pictures) {
    tags::CStreamTags* s = nullptr;
    ASSERT_EQ(p->AddStream(serial, &s), S_OK);
    std::vector<std::string> comments{"TITLE=x"};
    for (const PictureSpec& spec : pictures)
        comments.push_back("METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(spec)));
    const Bytes packet = OpusTags(CommentBody("v", comments));
    ASSERT_EQ(s->TakeCommentPacket(tags::CommentLayout::Opus, packet.data(), packet.size()), S_OK);
}

PictureSpec Picture(uint32_t type, uint32_t seed, size_t size = 100) {
    PictureSpec spec;
    spec.type = type;
    spec.data = Pattern(size, seed);
    return spec;
}

// The copy CopyThumbnailCover makes, as bytes (empty: none), with its result.
Bytes Cover(const tags::CPresentationTags* p, HRESULT* hr) {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    *hr = CopyThumbnailCover(p, &bytes, &size);
    Bytes copy(bytes, bytes + size);
    std::free(bytes);
    return copy;
}

ThumbnailSize Fit(uint32_t width, uint32_t height, uint32_t cx) {
    ThumbnailSize out;
    EXPECT_EQ(FitThumbnail(width, height, cx, &out), S_OK) << width << "x" << height << " in " << cx;
    return out;
}
} // namespace

TEST(ThumbnailCover, TheFrontCoverOverEveryOtherPictureOfAnyStream) {
    tags::CPresentationTags p;
    // Stream 1: a file icon, then a back cover (type 4); stream 2: the front cover.
    AddStream(&p, 1, {Picture(1, 10), Picture(4, 11)});
    AddStream(&p, 2, {Picture(0, 12), Picture(3, 13, 300)});
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Cover(&p, &hr), Pattern(300, 13));
    EXPECT_EQ(hr, S_OK);
}

TEST(ThumbnailCover, WithoutAFrontCoverTheFirstPictureThatIsNoIcon) {
    tags::CPresentationTags p;
    AddStream(&p, 1, {Picture(2, 20), Picture(6, 21), Picture(4, 22)});
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Cover(&p, &hr), Pattern(100, 21)) << "the first picture, passing over the file icon";
    EXPECT_EQ(hr, S_OK);

    tags::CPresentationTags icons;
    AddStream(&icons, 1, {Picture(1, 30), Picture(2, 31)});
    EXPECT_EQ(Cover(&icons, &hr), Pattern(100, 30)) << "an icon is still better than nothing";
    EXPECT_EQ(hr, S_OK);
}

TEST(ThumbnailCover, NoPictureNoTagsOrAnEmptyImageIsNoCover) {
    tags::CPresentationTags none;
    AddStream(&none, 1, {});
    HRESULT hr = E_FAIL;
    EXPECT_TRUE(Cover(&none, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(Cover(nullptr, &hr).empty()) << "a link whose headers the open did not reach";
    EXPECT_EQ(hr, S_FALSE);
    tags::CPresentationTags empty;
    AddStream(&empty, 1, {Picture(3, 40, 0)});
    EXPECT_TRUE(Cover(&empty, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);
    uint8_t* bytes = nullptr;
    EXPECT_EQ(CopyThumbnailCover(&none, &bytes, nullptr), E_POINTER);
}

TEST(ThumbnailFit, TheLongerSideBecomesCxAndTheOtherKeepsTheRatio) {
    EXPECT_EQ(Fit(300, 200, 256).width, 256u);
    EXPECT_EQ(Fit(300, 200, 256).height, 171u) << "200 * 256 / 300 = 170.67, to the nearest pixel";
    EXPECT_EQ(Fit(200, 300, 256).width, 171u);
    EXPECT_EQ(Fit(200, 300, 256).height, 256u);
    EXPECT_EQ(Fit(1000, 1000, 96).width, 96u);
    EXPECT_EQ(Fit(1000, 1000, 96).height, 96u);
    EXPECT_EQ(Fit(301, 200, 256).height, 170u) << "170.10";
    EXPECT_EQ(Fit(16384, 16383, 16383).height, 16382u) << "no overflow at the limit";
}

TEST(ThumbnailFit, NeverScaledUp) {
    for (uint32_t cx : {300u, 301u, 1000u, 0xFFFFFFFFu}) {
        const ThumbnailSize s = Fit(300, 200, cx);
        EXPECT_EQ(s.width, 300u) << cx;
        EXPECT_EQ(s.height, 200u) << cx;
    }
    EXPECT_EQ(Fit(1, 1, 256).width, 1u);
    EXPECT_EQ(Fit(1, 1, 256).height, 1u);
    EXPECT_EQ(Fit(1, 1, 1).width, 1u);
}

TEST(ThumbnailFit, OnePixelAndVeryWideOrTallFramesKeepAtLeastOnePixel) {
    ThumbnailSize s = Fit(16384, 1, 256);
    EXPECT_EQ(s.width, 256u);
    EXPECT_EQ(s.height, 1u) << "1 * 256 / 16384 rounds to 0: one pixel is kept";
    s = Fit(1, 16384, 32);
    EXPECT_EQ(s.width, 1u);
    EXPECT_EQ(s.height, 32u);
    s = Fit(16384, 100, 256);
    EXPECT_EQ(s.height, 2u) << "1.56";
    s = Fit(2, 1, 1);
    EXPECT_EQ(s.width, 1u);
    EXPECT_EQ(s.height, 1u) << "0.5 rounds up";
}

TEST(ThumbnailFit, AbsurdFramesAndEmptyRequestsAreRefused) {
    ThumbnailSize s{7, 7};
    EXPECT_EQ(FitThumbnail(16385, 10, 256, &s), kThumbnailFrameTooLarge);
    EXPECT_EQ(s.width, 0u) << "nothing is told of a refused frame";
    EXPECT_EQ(FitThumbnail(10, 16385, 256, &s), kThumbnailFrameTooLarge);
    EXPECT_EQ(FitThumbnail(0xFFFFFFFFu, 0xFFFFFFFFu, 256, &s), kThumbnailFrameTooLarge);
    EXPECT_EQ(FitThumbnail(16384, 16384, 256, &s), S_OK) << "the limit itself is a frame";
    EXPECT_EQ(FitThumbnail(0, 10, 256, &s), E_INVALIDARG);
    EXPECT_EQ(FitThumbnail(10, 0, 256, &s), E_INVALIDARG);
    EXPECT_EQ(FitThumbnail(10, 10, 0, &s), E_INVALIDARG);
    EXPECT_EQ(FitThumbnail(10, 10, 10, nullptr), E_POINTER);
}
