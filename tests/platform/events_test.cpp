#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "common/callback.h"

namespace {
MediaEventType TypeOf(IMFMediaEvent* e) {
    MediaEventType t = MEUnknown;
    e->GetType(&t);
    return t;
}
} // namespace

TEST(EventQueue, EventsComeOutInOrderWithTheirValues) {
    PlatRef<IMFMediaEventQueue> q;
    ASSERT_EQ(MFCreateEventQueue(&q), S_OK);
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_I8;
    v.hVal.QuadPart = 12345;
    for (MediaEventType t = MESourceStarted; t <= MEMediaSample; ++t)
        ASSERT_EQ(q->QueueEventParamVar(t, GUID_NULL, t == MEError ? E_FAIL : S_OK, &v), S_OK);
    for (MediaEventType t = MESourceStarted; t <= MEMediaSample; ++t) {
        PlatRef<IMFMediaEvent> e;
        ASSERT_EQ(q->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e), S_OK);
        EXPECT_EQ(TypeOf(e.Get()), t);
        PROPVARIANT out;
        PropVariantInit(&out);
        e->GetValue(&out);
        EXPECT_EQ(out.vt, VT_I8);
        EXPECT_EQ(out.hVal.QuadPart, 12345);
    }
    PlatRef<IMFMediaEvent> none;
    EXPECT_EQ(q->GetEvent(MF_EVENT_FLAG_NO_WAIT, &none), MF_E_NO_EVENTS_AVAILABLE);
    q->Shutdown();
}

TEST(EventQueue, GetEventBlocksUntilAnEventOrShutdown) {
    PlatRef<IMFMediaEventQueue> q;
    MFCreateEventQueue(&q);
    std::atomic<int> phase{0};
    std::thread consumer([&] {
        PlatRef<IMFMediaEvent> e;
        EXPECT_EQ(q->GetEvent(0, &e), S_OK);
        EXPECT_EQ(phase.load(), 1) << "GetEvent returned before anything was queued";
        EXPECT_EQ(TypeOf(e.Get()), MEEndOfStream);
        PlatRef<IMFMediaEvent> again;
        EXPECT_EQ(q->GetEvent(0, &again), MF_E_SHUTDOWN) << "shutdown wakes a blocked GetEvent";
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    phase = 1;
    q->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q->Shutdown();
    consumer.join();

    PlatRef<IMFMediaEvent> e;
    EXPECT_EQ(q->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e), MF_E_SHUTDOWN);
    EXPECT_EQ(q->QueueEventParamVar(MEError, GUID_NULL, S_OK, nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(q->Shutdown(), S_OK);
}

TEST(EventQueue, BeginGetEventCompletesOnTheWorkQueueOneSubscriberAtATime) {
    MFScope mf;
    PlatRef<IMFMediaEventQueue> q;
    MFCreateEventQueue(&q);
    std::mutex m;
    std::condition_variable cv;
    std::vector<MediaEventType> got;
    std::vector<HRESULT> ends;
    std::thread::id invoker;
    PlatRef<IMFAsyncCallback> cb;
    cb.Attach(new TestCallback([&](IMFAsyncResult* r) {
        PlatRef<IMFMediaEvent> e;
        HRESULT hr = q->EndGetEvent(r, &e);
        std::lock_guard<std::mutex> g(m);
        invoker = std::this_thread::get_id();
        ends.push_back(hr);
        if (SUCCEEDED(hr)) {
            got.push_back(TypeOf(e.Get()));
            q->BeginGetEvent(cb.Get(), nullptr); // subscribe again from inside, as hosts do
        }
        cv.notify_all();
    }));
    ASSERT_EQ(q->BeginGetEvent(cb.Get(), nullptr), S_OK);
    EXPECT_EQ(q->BeginGetEvent(cb.Get(), nullptr), MF_E_MULTIPLE_BEGIN);
    PlatRef<IMFAsyncCallback> other;
    other.Attach(new TestCallback([](IMFAsyncResult*) {}));
    EXPECT_EQ(q->BeginGetEvent(other.Get(), nullptr), MF_E_MULTIPLE_SUBSCRIBERS);
    PlatRef<IMFMediaEvent> e;
    EXPECT_EQ(q->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e), MF_E_MULTIPLE_SUBSCRIBERS);

    for (MediaEventType t : {MENewStream, MESourceStarted, MEStreamStarted})
        q->QueueEventParamVar(t, GUID_NULL, S_OK, nullptr);
    {
        std::unique_lock<std::mutex> g(m);
        ASSERT_TRUE(cv.wait_for(g, std::chrono::seconds(10), [&] { return got.size() == 3; }));
        EXPECT_EQ(got, (std::vector<MediaEventType>{MENewStream, MESourceStarted, MEStreamStarted}));
        EXPECT_NE(invoker, std::this_thread::get_id());
    }
    q->Shutdown(); // the pending subscription is completed with MF_E_SHUTDOWN
    std::unique_lock<std::mutex> g(m);
    ASSERT_TRUE(cv.wait_for(g, std::chrono::seconds(10), [&] { return ends.size() == 4; }));
    EXPECT_EQ(ends.back(), MF_E_SHUTDOWN);
}
