#include "event.h"

#include <algorithm>

CEvent::CEvent(BOOL manualReset, HRESULT*) : m_manual(manualReset != FALSE) {}

CEvent::~CEvent() = default;

void CEvent::Set() {
    std::lock_guard<std::mutex> g(m_lock);
    m_signalled = true;
    for (Waiter* w : m_waiters) {
        std::lock_guard<std::mutex> wg(w->lock);
        w->fired = true;
        w->wake.notify_one();
    }
}

void CEvent::Reset() {
    std::lock_guard<std::mutex> g(m_lock);
    m_signalled = false;
}

bool CEvent::IsSignalled() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_signalled;
}

bool CEvent::TryConsume() {
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_signalled) return false;
    if (!m_manual) m_signalled = false;
    return true;
}

void CEvent::AddWaiter(Waiter* w) {
    std::lock_guard<std::mutex> g(m_lock);
    m_waiters.push_back(w);
}

void CEvent::RemoveWaiter(Waiter* w) {
    std::lock_guard<std::mutex> g(m_lock);
    m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), w));
}

bool CEvent::Wait(DWORD timeoutMs) {
    CEvent* self = this;
    return WaitAny(&self, 1, timeoutMs) == 0;
}

int CEvent::WaitAny(CEvent* const* events, size_t count, DWORD timeoutMs) {
    for (size_t i = 0; i < count; ++i)
        if (events[i]->TryConsume()) return static_cast<int>(i);
    if (timeoutMs == 0) return -1;
    // Registered before the second look, so a Set between the look and the sleep is not lost.
    Waiter w;
    for (size_t i = 0; i < count; ++i) events[i]->AddWaiter(&w);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int result = -1;
    for (;;) {
        for (size_t i = 0; i < count && result < 0; ++i)
            if (events[i]->TryConsume()) result = static_cast<int>(i);
        if (result >= 0) break;
        std::unique_lock<std::mutex> g(w.lock);
        if (timeoutMs == INFINITE) {
            w.wake.wait(g, [&] { return w.fired; });
        } else if (!w.wake.wait_until(g, deadline, [&] { return w.fired; })) {
            break;
        }
        w.fired = false;
    }
    for (size_t i = 0; i < count; ++i) events[i]->RemoveWaiter(&w);
    return result;
}
