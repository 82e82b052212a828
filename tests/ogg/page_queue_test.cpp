#include <gtest/gtest.h>
#include <vector>

#include "ogg/page_queue.h"
#include "ogg/stream_page_reader.h"

namespace {
struct TestQueue : COggPageQueue {
    int32_t HeaderCapacity() const { return m_cbHeaderCapacity; }
    int32_t BodyCapacity() const { return m_cbBodyCapacity; }
    bool FreeListEmpty() const { return m_pFreeList == nullptr; }
    LONGLONG LastTime() const { return m_tLastTime; }
};

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
}

TEST(PageReader, SkipForeignPagesJumpsOverPagesOfOtherStreams) {
    // Three pages: serial 1, serial 2, serial 1. A reader of stream 2 skips the first, keeps the second.
    std::vector<unsigned char> file;
    ogg_stream_state os[2];
    ogg_stream_init(&os[0], 1);
    ogg_stream_init(&os[1], 2);
    for (int i : {0, 1, 0}) {
        std::vector<unsigned char> payload(300 + i * 10, static_cast<unsigned char>('a' + i));
        ogg_packet op{};
        op.packet = payload.data();
        op.bytes = static_cast<long>(payload.size());
        op.granulepos = 1;
        ogg_stream_packetin(&os[i], &op);
        ogg_page og;
        ogg_stream_flush(&os[i], &og);
        file.insert(file.end(), og.header, og.header + og.header_len);
        file.insert(file.end(), og.body, og.body + og.body_len);
    }
    ogg_stream_clear(&os[0]);
    ogg_stream_clear(&os[1]);
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buf = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buf, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    EXPECT_EQ(COggStreamReader::SkipForeignPages(&sync, 2), 0);
    ogg_page og;
    ASSERT_EQ(ogg_sync_pageout(&sync, &og), 1);
    EXPECT_EQ(ogg_page_serialno(&og), 2);
    // The last page only partly buffered: the buffer is dropped and the rest skipped in the file.
    ogg_sync_reset(&sync);
    const size_t firstPage = 27 + 2 + 300;
    buf = ogg_sync_buffer(&sync, 100);
    std::memcpy(buf, file.data(), 100);
    ogg_sync_wrote(&sync, 100);
    EXPECT_EQ(COggStreamReader::SkipForeignPages(&sync, 2), static_cast<LONGLONG>(firstPage - 100));
    EXPECT_EQ(sync.fill, 0);
    ogg_sync_clear(&sync);
}
