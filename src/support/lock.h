// Locks: the re-entrant plain lock, its scope guard, and the counted lock that records its owner.
#pragma once
#include <atomic>
#include <mutex>

#include "platform/platform.h"

class CLock {
public:
    CLock() = default;
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;
    void Lock() { m_cs.lock(); }
    void Unlock() { m_cs.unlock(); }
    BOOL TryLock() { return m_cs.try_lock() ? TRUE : FALSE; }

private:
    std::recursive_mutex m_cs;
};

class CAutoLock {
public:
    explicit CAutoLock(CLock* lock) : m_lock(lock) { m_lock->Lock(); }
    explicit CAutoLock(CLock& lock) : CAutoLock(&lock) {}
    ~CAutoLock() { m_lock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CLock* m_lock;
};

// A re-entrant lock that knows which thread holds it and how often.
class CCountedLock {
public:
    void Lock();
    BOOL TryLock();
    void Unlock();
    DWORD Owner() const { return m_owner.load(); }
    DWORD Count() const { return m_count; }

private:
    std::recursive_mutex m_cs;
    std::atomic<DWORD> m_owner{0}; // read without the lock by TryLock
    DWORD m_count = 0;
};
