// The page walker: headers read from any number of bytes, checksums, and the packets a page's lacing values make.
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <vector>

#include "ogg/fourcc_map.h"
#include "ogg/page_checksum.h"
#include "ogg/page_walker.h"
#include "ogg/ogg_types.h"

namespace {
// One page of serial 7 holding the packets given (sizes), the first `continued` bytes being a packet's tail.
std::vector<uint8_t> Page(const std::vector<int>& lacing, bool continued, int64_t granule = 1234) {
    std::vector<uint8_t> p(27 + lacing.size(), 0);
    std::memcpy(p.data(), "OggS", 4);
    p[5] = continued ? 1 : 0;
    for (int i = 0; i < 8; ++i) p[6 + i] = static_cast<uint8_t>(static_cast<uint64_t>(granule) >> (8 * i));
    p[14] = 7;
    p[26] = static_cast<uint8_t>(lacing.size());
    size_t body = 0;
    for (size_t i = 0; i < lacing.size(); ++i) {
        p[27 + i] = static_cast<uint8_t>(lacing[i]);
        body += static_cast<size_t>(lacing[i]);
    }
    for (size_t i = 0; i < body; ++i) p.push_back(static_cast<uint8_t>(i * 31));
    ogg_page og;
    og.header = p.data();
    og.header_len = static_cast<long>(27 + lacing.size());
    og.body = p.data() + og.header_len;
    og.body_len = static_cast<long>(body);
    ogg_page_checksum_set(&og);
    return p;
}
} // namespace

TEST(PageWalker, HeadersFromAnyNumberOfBytes) {
    const std::vector<uint8_t> p = Page({255, 255, 10, 0, 40}, false);
    OggPageHeader h;
    for (size_t n = 0; n < 27 + 5; ++n)
        EXPECT_EQ(ParsePageHeader(p.data(), n, &h), PageParse::NeedMore) << n;
    ASSERT_EQ(ParsePageHeader(p.data(), p.size(), &h), PageParse::Page);
    EXPECT_EQ(h.serial, 7u);
    EXPECT_EQ(h.granule, 1234);
    EXPECT_EQ(h.segments, 5);
    EXPECT_EQ(h.headerLen, 32);
    EXPECT_EQ(h.bodyLen, 560);
    EXPECT_TRUE(PageChecksumRight(p.data(), p.size()));
    std::vector<uint8_t> bad = p;
    bad[100] ^= 1;
    EXPECT_FALSE(PageChecksumRight(bad.data(), bad.size())) << "one bit of the body changed";
    EXPECT_FALSE(PageChecksumRight(p.data(), p.size() - 1)) << "a page cut short";
    bad = p;
    bad[4] = 1;
    EXPECT_EQ(ParsePageHeader(bad.data(), bad.size(), &h), PageParse::NotAPage) << "no version but 0 exists";
    const uint8_t junk[] = "OgXS and more";
    EXPECT_EQ(ParsePageHeader(junk, sizeof junk, &h), PageParse::NotAPage);
    EXPECT_EQ(ParsePageHeader(junk, 3, &h), PageParse::NotAPage) << "Ogx is no start of a capture pattern";
    EXPECT_EQ(ParsePageHeader(reinterpret_cast<const uint8_t*>("Ogg"), 3, &h), PageParse::NeedMore);
}

// The checksum the module computes (with a faster library where there is one) is libogg's on every page shape:
// no body, bodies of every length around the faster code's block sizes, up to the largest page, whatever the
// header's own checksum field holds.
TEST(PageWalker, TheChecksumIsLibOggsOnEveryPageSize) {
    uint32_t seed = 1;
    auto next = [&] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 300; ++n) sizes.push_back(n);
    for (size_t n : {511, 512, 513, 1023, 4095, 4096, 4097, 65535, 65024, 65025}) sizes.push_back(n);
    for (size_t body : sizes) {
        const int segments = static_cast<int>(body / 255 + 1);
        if (segments > 255) continue;
        std::vector<int> lacing(static_cast<size_t>(segments), 255);
        lacing.back() = static_cast<int>(body % 255);
        std::vector<uint8_t> p = Page(lacing, body % 2 == 1, static_cast<int64_t>(body) * 977);
        for (size_t i = 27 + static_cast<size_t>(segments); i < p.size(); ++i) p[i] = next();
        ogg_page og;
        og.header = p.data();
        og.header_len = 27 + segments;
        og.body = p.data() + og.header_len;
        og.body_len = static_cast<long>(body);
        ogg_page_checksum_set(&og);
        const uint32_t stored = ReadLE32(p.data() + 22);
        EXPECT_EQ(OggPageChecksum(p.data(), static_cast<size_t>(og.header_len), og.body, body), stored) << body;
        EXPECT_TRUE(PageChecksumRight(p.data(), p.size())) << body;
        p[p.size() - 1 - body / 2] ^= 0x80; // the last header byte for an empty body, else one in the body
        EXPECT_FALSE(PageChecksumRight(p.data(), p.size())) << body;
    }
}

TEST(PageWalker, PacketPartsOfEveryShapeOfPage) {
    PacketPart parts[255];
    // A tail of a packet begun before (255 + 10), an empty packet, one of 40.
    const uint8_t a[] = {255, 10, 0, 40};
    ASSERT_EQ(PacketParts(a, 4, true, parts), 3);
    EXPECT_FALSE(parts[0].begins);
    EXPECT_TRUE(parts[0].ends);
    EXPECT_EQ(parts[0].bytes, 265);
    EXPECT_EQ(parts[1].offset, 265);
    EXPECT_EQ(parts[1].bytes, 0);
    EXPECT_TRUE(parts[1].begins && parts[1].ends);
    EXPECT_EQ(parts[2].offset, 265);
    EXPECT_EQ(parts[2].bytes, 40);
    EXPECT_EQ(CompletedPackets(a, 4), 3);
    // A packet that begins here and goes on: its part does not end.
    const uint8_t b[] = {20, 255, 255};
    ASSERT_EQ(PacketParts(b, 3, false, parts), 2);
    EXPECT_TRUE(parts[1].begins);
    EXPECT_FALSE(parts[1].ends);
    EXPECT_EQ(parts[1].bytes, 510);
    EXPECT_EQ(CompletedPackets(b, 3), 1);
    // A page entirely inside one packet.
    const uint8_t c[] = {255, 255};
    ASSERT_EQ(PacketParts(c, 2, true, parts), 1);
    EXPECT_FALSE(parts[0].begins || parts[0].ends);
    EXPECT_EQ(PacketParts(c, 0, false, parts), 0) << "no segments, no packets";
    // 255 one-byte packets: 255 parts, each ending.
    std::vector<uint8_t> many(255, 1);
    ASSERT_EQ(PacketParts(many.data(), 255, false, parts), 255);
    EXPECT_EQ(parts[254].offset, 254);
}

// The FOURCC mapping as the owner hands it: chains followed, a cycle back to the start ends at the entry that
// returns, any other cycle after as many steps as there are entries.
TEST(FourccMap, ChainsAndCycles) {
    const uint32_t DIVX = 0x58564944, XVID = 0x44495658, MP42 = 0x3234504D, H264 = 0x34363248;
    CFourccMap m;
    EXPECT_EQ(m.Map(DIVX), DIVX);
    ASSERT_TRUE(m.Add(DIVX, XVID));
    EXPECT_EQ(m.Map(DIVX), XVID);
    EXPECT_EQ(m.Map(XVID), XVID);
    ASSERT_TRUE(m.Add(XVID, MP42));
    EXPECT_EQ(m.Map(DIVX), MP42);
    ASSERT_TRUE(m.Add(XVID, DIVX)); // replaces XVID's entry
    EXPECT_EQ(m.Count(), 2);
    EXPECT_EQ(m.Map(DIVX), XVID) << "the entry that comes back to the start";
    CFourccMap loop;
    loop.Add(DIVX, XVID);
    loop.Add(XVID, MP42);
    loop.Add(MP42, XVID);
    const uint32_t r = loop.Map(DIVX);
    EXPECT_TRUE(r == XVID || r == MP42);
    CFourccMap full;
    for (int i = 0; i < CFourccMap::kMaxEntries; ++i) ASSERT_TRUE(full.Add(static_cast<uint32_t>(i), static_cast<uint32_t>(i + 1)));
    EXPECT_FALSE(full.Add(H264, DIVX)) << "no more than its entries";
    EXPECT_EQ(full.Map(0), static_cast<uint32_t>(CFourccMap::kMaxEntries));
}
