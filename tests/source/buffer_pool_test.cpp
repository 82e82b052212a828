// The sample buffers' pool: buffers sized to their packet, reused once the host lets them go, the pool's own
// memory bounded, and buffers that outlive the stream (and its pool's owner) still valid.
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "source/buffer_pool.h"

TEST(BufferPool, SizedToThePacketReusedAndBounded) {
    CBufferPool* pool = CBufferPool::Create();
    ASSERT_NE(pool, nullptr);
    IMFMediaBuffer* a = nullptr;
    ASSERT_EQ(pool->Get(1000, &a), S_OK);
    DWORD max = 0, current = 7;
    BYTE* data = nullptr;
    ASSERT_EQ(a->Lock(&data, &max, &current), S_OK);
    EXPECT_EQ(max, 1024u) << "the packet's size, rounded up to a power of two";
    EXPECT_EQ(current, 0u);
    EXPECT_EQ(a->SetCurrentLength(1025), E_INVALIDARG);
    EXPECT_EQ(a->SetCurrentLength(1000), S_OK);
    a->Unlock();
    IMFMediaBuffer* tiny = nullptr;
    ASSERT_EQ(pool->Get(1, &tiny), S_OK);
    ASSERT_EQ(tiny->GetMaxLength(&max), S_OK);
    EXPECT_EQ(max, 256u) << "the smallest size class";
    EXPECT_EQ(pool->KeptBytes(), 0u);
    a->Release();
    EXPECT_EQ(pool->KeptBytes(), 1024u) << "released: kept for the next sample";
    IMFMediaBuffer* b = nullptr;
    ASSERT_EQ(pool->Get(700, &b), S_OK);
    BYTE* again = nullptr;
    ASSERT_EQ(b->Lock(&again, &max, nullptr), S_OK);
    EXPECT_EQ(again, data) << "the same block again";
    b->Unlock();
    EXPECT_EQ(pool->KeptBytes(), 0u);

    // Many large buffers let go at once: the pool keeps no more than its limit, and frees the rest.
    std::vector<IMFMediaBuffer*> big(40, nullptr);
    for (auto& x : big) ASSERT_EQ(pool->Get(1u << 20, &x), S_OK);
    for (auto* x : big) x->Release();
    EXPECT_LE(pool->KeptBytes(), CBufferPool::kKeptBytes);
    EXPECT_GE(pool->KeptBytes(), CBufferPool::kKeptBytes - (1u << 20));

    // The pool's owner lets go first: buffers still held keep it, and their bytes stay usable.
    pool->Release();
    ASSERT_EQ(b->Lock(&again, nullptr, nullptr), S_OK);
    again[699] = 1;
    b->Unlock();
    b->Release();
    tiny->Release();
}

// Buffers taken on one thread and released on others, as production and hosts do: no block is handed out twice.
TEST(BufferPool, TakenAndReleasedOnManyThreads) {
    CBufferPool* pool = CBufferPool::Create();
    ASSERT_NE(pool, nullptr);
    std::vector<std::thread> threads;
    std::atomic<int> clashes{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                IMFMediaBuffer* x = nullptr;
                if (pool->Get(static_cast<DWORD>(100 + (i * 37 + t) % 3000), &x) != S_OK) continue;
                BYTE* p = nullptr;
                x->Lock(&p, nullptr, nullptr);
                p[0] = static_cast<BYTE>(t);
                std::this_thread::yield();
                clashes += p[0] != static_cast<BYTE>(t);
                x->Unlock();
                x->Release();
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(clashes.load(), 0);
    pool->Release();
}
