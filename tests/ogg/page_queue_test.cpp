#include <gtest/gtest.h>
#include <vector>

#include "ogg/page_queue.h"
#include "ogg/page_sync.h"

namespace {
using TestQueue = COggPageQueue;

struct FakePage {
    std::vector<unsigned char> header, body;
    ogg_page page{};
    FakePage(size_t h, size_t b) : header(h, 'h'), body(b, 'b') {
        page.header = header.data();
        page.header_len = static_cast<long>(h);
        page.body = body.data();
        page.body_len = static_cast<long>(b);
    }
};
} // namespace

TEST(PageQueue, CapacitiesFreeListAndTimes) {
    TestQueue q;
    EXPECT_EQ(q.HeaderCapacity(), 128);
    EXPECT_EQ(q.BodyCapacity(), 5120);
    EXPECT_EQ(q.Count(), 0);
    FakePage small(40, 100), exact(40, 5120), bigger(40, 5121), wide(282, 10);
    q.AddPage(&small.page, nullptr);
    PageNode* n = q.RemoveHead();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->tTime, 0) << "no time before any timed page";
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(q.RemoveHead(), nullptr);
    q.Recycle(n);
    EXPECT_FALSE(q.FreeListEmpty());
    LONGLONG t = 1234;
    q.AddPage(&exact.page, &t); // reuses the free entry
    EXPECT_TRUE(q.FreeListEmpty());
    EXPECT_EQ(q.BodyCapacity(), 5120);
    q.AddPage(&small.page, nullptr);
    PageNode* a = q.RemoveHead();
    PageNode* b = q.RemoveHead();
    EXPECT_EQ(a->tTime, 1234);
    EXPECT_EQ(b->tTime, 1234) << "an untimed page takes the newest time";
    EXPECT_EQ(std::memcmp(a->page.body, exact.body.data(), 5120), 0);
    q.Recycle(a);
    q.AddPage(&bigger.page, nullptr); // grows the body capacity, frees the outgrown free list
    EXPECT_EQ(q.BodyCapacity(), 6144);
    EXPECT_TRUE(q.FreeListEmpty());
    q.Recycle(b); // made before the growth: freed, not kept
    EXPECT_TRUE(q.FreeListEmpty());
    q.AddPage(&wide.page, nullptr);
    EXPECT_EQ(q.HeaderCapacity(), 384);
    EXPECT_EQ(q.Count(), 2);
    int32_t count;
    LONGLONG span;
    q.Snapshot(&count, &span);
    EXPECT_EQ(span, 0);
    q.Clear();
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(q.LastTime(), 0);
    EXPECT_EQ(q.HeaderCapacity(), 384) << "capacities keep their grown values";
    EXPECT_FALSE(q.FreeListEmpty()) << "the queued entry of the current capacities is kept for the next run";
    q.AddPage(&wide.page, nullptr); // reuses it
    EXPECT_TRUE(q.FreeListEmpty()) << "the entry made before the header grew was freed, not kept";
}

// Pages of three streams with junk between them (a false capture pattern among it, and a damaged copy of a page):
// the sync finds every real page at its offset, bytes written in any pieces, and counts the junk it passed over.
TEST(PageSync, FindsEveryPageAtItsOffsetWhateverLiesBetween) {
    std::vector<unsigned char> file;
    std::vector<std::pair<size_t, uint32_t>> pages; // offset, serial
    ogg_stream_state os[3];
    for (int i = 0; i < 3; ++i) ogg_stream_init(&os[i], i + 1);
    const std::vector<unsigned char> junk = {'x', 'O', 'g', 'g', 'S', 0, 0, 'O', 'g', 'g', 'y', 'j', 'u', 'n', 'k'};
    for (int n = 0; n < 12; ++n) {
        const int i = n % 3;
        std::vector<unsigned char> payload(300 + static_cast<size_t>(n) * 700, static_cast<unsigned char>('a' + n));
        ogg_packet op{};
        op.packet = payload.data();
        op.bytes = static_cast<long>(payload.size());
        op.granulepos = n;
        ogg_stream_packetin(&os[i], &op);
        ogg_page og;
        ogg_stream_flush(&os[i], &og);
        if (n % 4 == 1) file.insert(file.end(), junk.begin(), junk.end());
        if (n == 5) { // a damaged copy of the page: its checksum is wrong, so it is no page
            std::vector<unsigned char> bad(og.header, og.header + og.header_len);
            bad.insert(bad.end(), og.body, og.body + og.body_len);
            bad[bad.size() / 2] ^= 0x55;
            file.insert(file.end(), bad.begin(), bad.end());
        }
        pages.emplace_back(file.size(), static_cast<uint32_t>(i + 1));
        file.insert(file.end(), og.header, og.header + og.header_len);
        file.insert(file.end(), og.body, og.body + og.body_len);
    }
    for (auto& o : os) ogg_stream_clear(&o);
    for (size_t piece : {size_t(1), size_t(7), size_t(4096), file.size()}) {
        SCOPED_TRACE(piece);
        CPageSync sync;
        sync.Reset(1000); // the bytes are those of a file from offset 1000 on
        std::vector<std::pair<size_t, uint32_t>> found;
        for (size_t at = 0; at < file.size(); at += piece) {
            const size_t n = std::min(piece, file.size() - at);
            BYTE* space = sync.Space(n);
            ASSERT_NE(space, nullptr);
            std::memcpy(space, file.data() + at, n);
            sync.Wrote(n);
            OggPageView v;
            while (sync.Next(&v)) {
                found.emplace_back(static_cast<size_t>(v.offset - 1000), v.header.serial);
                EXPECT_EQ(std::memcmp(v.data, file.data() + (v.offset - 1000), static_cast<size_t>(v.header.Size())), 0);
            }
        }
        EXPECT_EQ(found, pages);
        EXPECT_EQ(sync.Position(), 1000 + static_cast<LONGLONG>(file.size())) << "every byte taken or passed over";
        EXPECT_GE(sync.Skipped(), 3 * junk.size()) << "the junk and the damaged copy were passed over";
    }
    // A header held without its body: a reader that does not want the page learns its size and goes past it.
    CPageSync sync;
    sync.Reset(0);
    BYTE* space = sync.Space(100);
    std::memcpy(space, file.data() + pages[1].first, 100);
    sync.Wrote(100);
    OggPageView v;
    EXPECT_FALSE(sync.Next(&v));
    OggPageHeader h;
    ASSERT_TRUE(sync.PendingHeader(&h));
    EXPECT_EQ(h.serial, 2u);
    EXPECT_EQ(static_cast<size_t>(h.Size()), pages[2].first - pages[1].first) << "pages 1 and 2 are adjacent";
}
