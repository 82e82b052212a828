#include <gtest/gtest.h>

#include "support/am_media_type.h"

TEST(AMMediaType, InitAndFormatBufferRules) {
    CAMMediaType mt;
    EXPECT_FALSE(mt.HasMediaType());
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_EQ(mt.lSampleSize, 1u);
    EXPECT_EQ(mt.cbFormat, 0u);

    BYTE* block = mt.AllocFormatBuffer(24);
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 24; ++i) block[i] = static_cast<BYTE>(i);
    EXPECT_EQ(mt.AllocFormatBuffer(24), block) << "the same length keeps the same block";
    EXPECT_EQ(block[23], 23);

    BYTE* grown = mt.ReallocFormatBuffer(40);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(mt.cbFormat, 40u);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(grown[i], i);
    for (int i = 24; i < 40; ++i) grown[i] = 0xEE;
    BYTE* shrunk = mt.ReallocFormatBuffer(24);
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(mt.cbFormat, 24u);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(shrunk[i], i);

    const BYTE fmt[3] = {9, 8, 7};
    ASSERT_TRUE(mt.SetFormat(fmt, 3));
    EXPECT_EQ(mt.cbFormat, 3u);
    EXPECT_EQ(mt.pbFormat[2], 7);
    mt.Clear();
    EXPECT_EQ(mt.cbFormat, 0u);
    EXPECT_EQ(mt.pbFormat, nullptr);
}

TEST(AMMediaType, CopiesOwnSeparateBlocks) {
    CAMMediaType a;
    a.SetType(MEDIATYPE_Video);
    a.SetSubtype(GuidFromFourcc(0x30355844));
    a.SetFormatType(FORMAT_VideoInfo);
    a.SetTemporalCompression(TRUE);
    a.SetVariableSize();
    BYTE* block = a.AllocFormatBuffer(24);
    std::memset(block, 0x5A, 24);

    CAMMediaType b(a);
    ASSERT_EQ(b.cbFormat, 24u);
    EXPECT_NE(b.pbFormat, a.pbFormat);
    EXPECT_EQ(std::memcmp(b.pbFormat, a.pbFormat, 24), 0);
    EXPECT_TRUE(IsEqualGUID(b.subtype, a.subtype));
    EXPECT_FALSE(b.bFixedSizeSamples);
    a.pbFormat[0] = 0;
    EXPECT_EQ(b.pbFormat[0], 0x5A);

    CAMMediaType empty;
    CAMMediaType c(empty);
    EXPECT_EQ(c.cbFormat, 0u);
    EXPECT_EQ(c.pbFormat, nullptr);

    BYTE* before = b.pbFormat;
    EXPECT_EQ(b.Set(b), S_OK);
    EXPECT_EQ(b.pbFormat, before) << "Set to itself changes nothing";
    EXPECT_EQ(b.cbFormat, 24u);

    ASSERT_EQ(c.Set(a), S_OK);
    EXPECT_EQ(c.cbFormat, 24u);
    EXPECT_NE(c.pbFormat, a.pbFormat);
    EXPECT_EQ(c.Set(empty), S_OK);
    EXPECT_EQ(c.cbFormat, 0u) << "Set clears the old block first";
}

TEST(AMMediaType, ScaleToAspect) {
    LONG x = 0, y = 0;
    CAMMediaType::ScaleToAspect(&x, &y, 320, 240, 0, 0);
    EXPECT_EQ(x, 320);
    EXPECT_EQ(y, 240);
    CAMMediaType::ScaleToAspect(&x, &y, 320, 240, 4, 3);
    EXPECT_EQ(x, 427);
    EXPECT_EQ(y, 240);
    CAMMediaType::ScaleToAspect(&x, &y, 320, 240, 3, 4);
    EXPECT_EQ(x, 320);
    EXPECT_EQ(y, 320);
    CAMMediaType::ScaleToAspect(&x, &y, 320, 240, 0, 1);
    EXPECT_EQ(x, 320);
    EXPECT_EQ(y, -1) << "a zero numerator divides by zero: MulDiv gives -1";
}
