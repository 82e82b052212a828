#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/callback.h"

TEST(WorkQueue, ABlockedCallbackDoesNotStopOtherWorkItems) {
    MFScope mf;
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::atomic<int> done{0};
    PlatRef<IMFAsyncCallback> blocker, quick;
    blocker.Attach(new TestCallback([&](IMFAsyncResult*) {
        std::unique_lock<std::mutex> g(m);
        cv.wait(g, [&] { return release; });
        ++done;
        cv.notify_all();
    }));
    // Count and notify under the lock: the test may end (and destroy cv) the moment it sees the count.
    quick.Attach(new TestCallback([&](IMFAsyncResult*) {
        std::lock_guard<std::mutex> g(m);
        ++done;
        cv.notify_all();
    }));
    // Two blockers hold two workers; the quick items must still run.
    ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, blocker.Get(), nullptr), S_OK);
    ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, blocker.Get(), nullptr), S_OK);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, quick.Get(), nullptr), S_OK);
    {
        std::unique_lock<std::mutex> g(m);
        EXPECT_TRUE(cv.wait_for(g, std::chrono::seconds(10), [&] { return done.load() == 20; }));
        release = true;
        cv.notify_all();
    }
    std::unique_lock<std::mutex> g(m);
    EXPECT_TRUE(cv.wait_for(g, std::chrono::seconds(10), [&] { return done.load() == 22; }));
}

TEST(WorkQueue, ManyPostersEveryItemRunsOnceAndStateTravels) {
    MFScope mf;
    std::atomic<int> runs{0};
    std::atomic<int> withState{0};
    PlatRef<IMFAttributes> state;
    MFCreateAttributes(&state, 0);
    PlatRef<IMFAsyncCallback> cb;
    cb.Attach(new TestCallback([&](IMFAsyncResult* r) {
        ++runs;
        if (r->GetStateNoAddRef() == state.Get()) ++withState;
    }));
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 250; ++i) MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, cb.Get(), state.Get());
        });
    for (auto& t : posters) t.join();
    for (int i = 0; i < 1000 && runs.load() < 1000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(runs.load(), 1000);
    EXPECT_EQ(withState.load(), 1000);
}

TEST(WorkQueue, InvokeCallbackCarriesStatusAndObjectAndNeedsStartup) {
    PlatRef<IMFAsyncCallback> cb;
    std::atomic<HRESULT> seen{S_OK};
    std::atomic<bool> hadObject{false};
    cb.Attach(new TestCallback([&](IMFAsyncResult* r) {
        PlatRef<IUnknown> obj;
        hadObject = SUCCEEDED(r->GetObject(&obj)) && obj;
        seen = r->GetStatus();
    }));
    PlatRef<IMFAttributes> object;
    MFCreateAttributes(&object, 0);
    PlatRef<IMFAsyncResult> result;
    ASSERT_EQ(MFCreateAsyncResult(object.Get(), cb.Get(), nullptr, &result), S_OK);
    EXPECT_EQ(MFInvokeCallback(result.Get()), MF_E_SHUTDOWN) << "no work queue before MFStartup";
    {
        MFScope mf;
        result->SetStatus(MF_E_CANNOT_PARSE_BYTESTREAM);
        ASSERT_EQ(MFInvokeCallback(result.Get()), S_OK);
    } // MFShutdown drains the queue before it returns
    EXPECT_EQ(seen.load(), MF_E_CANNOT_PARSE_BYTESTREAM);
    EXPECT_TRUE(hadObject.load());
}

// A timer deleted from its own callback fires no more and is freed when the callback returns (the leak checker
// of the sanitizer build sees it otherwise); one deleted without waiting while its callback runs goes the same way.
TEST(TimerQueue, TimersDeletedWhileTheirCallbackRunsFireNoMoreAndAreFreed) {
    struct State {
        HANDLE queue = nullptr;
        std::atomic<HANDLE> timer{nullptr};
        std::atomic<int> calls{0};
        std::atomic<bool> entered{false}, leave{false};
    };
    State self;
    self.queue = CreateTimerQueue();
    ASSERT_NE(self.queue, nullptr);
    auto deleteSelf = [](void* p, BOOLEAN) {
        auto* s = static_cast<State*>(p);
        while (!s->timer.load()) std::this_thread::yield(); // stored just after the timer was made
        if (++s->calls == 1) {
            EXPECT_TRUE(DeleteTimerQueueTimer(s->queue, s->timer.load(), INVALID_HANDLE_VALUE));
        }
    };
    HANDLE made = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&made, self.queue, deleteSelf, &self, 1, 5, 0));
    self.timer = made;
    for (int i = 0; i < 200 && self.calls.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // ten periods
    EXPECT_EQ(self.calls.load(), 1);

    State other;
    other.queue = self.queue;
    auto blocks = [](void* p, BOOLEAN) {
        auto* s = static_cast<State*>(p);
        ++s->calls;
        s->entered = true;
        while (!s->leave) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    ASSERT_TRUE(CreateTimerQueueTimer(&made, other.queue, blocks, &other, 1, 5, 0));
    other.timer = made;
    for (int i = 0; i < 200 && !other.entered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(DeleteTimerQueueTimer(other.queue, other.timer.load(), nullptr)) << "returns at once";
    other.leave = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(other.calls.load(), 1);
    EXPECT_TRUE(DeleteTimerQueue(self.queue));
}
