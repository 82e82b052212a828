#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/am_thread.h"

namespace {
// Answers each code with code * 10; code 3 ends the worker.
class EchoThread : public CAMThread {
public:
    ~EchoThread() override { JoinThread(); }
    std::atomic<int> handled{0};
    std::atomic<bool> deleteSelfOnExit{false};
    static inline std::atomic<bool> deleteNow{false}, deleted{false};

protected:
    DWORD WorkerMain() override {
        for (;;) {
            DWORD code = TakeRequest();
            ++handled;
            Reply(code * 10);
            if (code == 3) break;
        }
        if (deleteSelfOnExit) {
            while (!deleteNow) std::this_thread::yield(); // the client's exchange is over
            delete this;                                   // destruction from the worker itself
            deleted = true;
        }
        return 0;
    }
};
} // namespace

TEST(AMThread, RequestReplyAndCreateRules) {
    EchoThread t;
    EXPECT_EQ(t.SendRequest(1), static_cast<DWORD>(E_FAIL)) << "no worker yet: fail without blocking";
    ASSERT_TRUE(t.Create());
    EXPECT_FALSE(t.Create()) << "a second Create leaves the first worker alone";
    EXPECT_EQ(t.SendRequest(1), 10u);
    EXPECT_EQ(t.SendRequest(2), 20u);
    EXPECT_EQ(t.handled.load(), 2);
    EXPECT_EQ(t.SendRequest(3), 30u);
}

TEST(AMThread, ClientsOnManyThreadsEachGetTheirOwnReply) {
    EchoThread t;
    ASSERT_TRUE(t.Create());
    std::atomic<int> wrong{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < 200; ++i) {
                DWORD code = 10 + c * 1000 + i;
                if (t.SendRequest(code) != code * 10) ++wrong;
            }
        });
    for (auto& c : clients) c.join();
    EXPECT_EQ(wrong.load(), 0);
    t.SendRequest(3);
}

namespace {
// A worker that replies to its first request twice, leaving a stale completion behind.
class DoubleReplyThread : public CAMThread {
public:
    ~DoubleReplyThread() override { JoinThread(); }
    std::atomic<bool> clientHasReply{false}, staleSent{false};

protected:
    DWORD WorkerMain() override {
        DWORD code = TakeRequest();
        Reply(111);
        while (!clientHasReply) std::this_thread::yield();
        Reply(222); // stale: nobody waits for it
        staleSent = true;
        for (;;) {
            code = TakeRequest();
            Reply(code + 1);
            if (code == 3) return 0;
        }
    }
};
} // namespace

TEST(AMThread, AStaleCompletionIsDroppedBeforeTheNextRequest) {
    DoubleReplyThread t;
    ASSERT_TRUE(t.Create());
    EXPECT_EQ(t.SendRequest(7), 111u);
    t.clientHasReply = true;
    while (!t.staleSent) std::this_thread::yield();
    EXPECT_EQ(t.SendRequest(8), 9u) << "the reply must be to this request, not the stale one";
    EXPECT_EQ(t.SendRequest(3), 4u);
}

TEST(AMThread, DestructionFromTheWorkerDoesNotWaitForItself) {
    auto* t = new EchoThread;
    ASSERT_TRUE(t->Create());
    t->deleteSelfOnExit = true;
    EXPECT_EQ(t->SendRequest(3), 30u);
    EchoThread::deleteNow = true;
    // The worker deletes its own object: it must neither wait for itself nor crash.
    for (int i = 0; i < 5000 && !EchoThread::deleted; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(EchoThread::deleted.load());
}
