#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/event.h"
#include "support/lock.h"

TEST(CountedLock, OwnerAndCountFollowNestedTakes) {
    CCountedLock lock;
    lock.Lock();
    EXPECT_EQ(lock.Owner(), GetCurrentThreadId());
    EXPECT_TRUE(lock.TryLock());
    EXPECT_EQ(lock.Count(), 2u);
    std::thread other([&] { EXPECT_FALSE(lock.TryLock()) << "another thread must fail at once"; });
    other.join();
    lock.Unlock();
    EXPECT_EQ(lock.Owner(), GetCurrentThreadId());
    lock.Unlock();
    EXPECT_EQ(lock.Owner(), 0u);
    std::thread taker([&] {
        EXPECT_TRUE(lock.TryLock());
        lock.Unlock();
    });
    taker.join();
}

TEST(Event, AutoResetReleasesExactlyOneWaiterPerSet) {
    CEvent ev(FALSE);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (ev.Wait(5000)) ++woken;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 4; ++i) {
        ev.Set();
        for (int spin = 0; spin < 500 && woken.load() <= i; ++spin)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(woken.load(), i + 1) << "one Set wakes one waiter of an auto-reset event";
    }
    for (auto& t : waiters) t.join();
    EXPECT_FALSE(ev.IsSignalled()) << "the waiter consumed the signal";
    EXPECT_FALSE(ev.Wait(0));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    CEvent ev(TRUE);
    ev.Set();
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(ev.Wait(0));
    ev.Reset();
    EXPECT_FALSE(ev.Wait(10));
}

TEST(Event, WaitAnyUnderContentionLosesNoWakeUp) {
    // Producers set two auto-reset events at random; the consumer counts what it takes. Every Set that
    // was taken must be counted, and the consumer must never sleep through a pending signal.
    CEvent a(FALSE), b(FALSE), stop(TRUE);
    CEvent* events[] = {&stop, &a, &b};
    std::atomic<int> takenA{0}, takenB{0};
    std::thread consumer([&] {
        for (;;) {
            int i = CEvent::WaitAny(events, 3, 10000);
            ASSERT_NE(i, -1) << "a lost wake-up: no event for 10 s";
            if (i == 0) return;
            (i == 1 ? takenA : takenB)++;
        }
    });
    for (int round = 0; round < 2000; ++round) {
        (round % 3 ? a : b).Set();
        if (round % 64 == 0) std::this_thread::yield();
    }
    // Wait for the last signals to be taken, then stop.
    for (int spin = 0; spin < 2000 && (a.IsSignalled() || b.IsSignalled()); ++spin)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop.Set();
    consumer.join();
    EXPECT_FALSE(a.IsSignalled());
    EXPECT_FALSE(b.IsSignalled());
    EXPECT_GT(takenA.load(), 0);
    EXPECT_GT(takenB.load(), 0);
    EXPECT_LE(takenA.load() + takenB.load(), 2000);

    // The lowest signalled index wins and only it is consumed.
    a.Set();
    b.Set();
    CEvent* ab[] = {&a, &b};
    EXPECT_EQ(CEvent::WaitAny(ab, 2, 0), 0);
    EXPECT_TRUE(b.IsSignalled());
    EXPECT_EQ(CEvent::WaitAny(ab, 2, 0), 1);
    EXPECT_EQ(CEvent::WaitAny(ab, 2, 20), -1);
}
