// Events: manual- or auto-reset, and a wait for any one of several events.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/platform.h"

class CEvent {
public:
    // Always created non-signalled. Construction cannot fail here; phr is kept for the callers' pattern
    // (a failure already stored in it is left alone).
    explicit CEvent(BOOL manualReset = FALSE, HRESULT* phr = nullptr);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // Waits up to timeoutMs (INFINITE: no limit); true when signalled (an auto-reset event is consumed).
    bool Wait(DWORD timeoutMs = INFINITE);
    bool IsSignalled();

    // Waits until one of the events is signalled: returns its index (the lowest among those signalled,
    // an auto-reset one is consumed), or -1 on time-out.
    static int WaitAny(CEvent* const* events, size_t count, DWORD timeoutMs = INFINITE);

private:
    struct Waiter {
        std::mutex lock;
        std::condition_variable wake;
        bool fired = false;
    };
    bool TryConsume();
    void AddWaiter(Waiter* w);
    void RemoveWaiter(Waiter* w);

    const bool m_manual;
    std::mutex m_lock;
    bool m_signalled = false;
    std::vector<Waiter*> m_waiters;
};
