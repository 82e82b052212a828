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
    }));
    quick.Attach(new TestCallback([&](IMFAsyncResult*) {
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
    }
    cv.notify_all();
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
