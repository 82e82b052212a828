#include "lock.h"

void CCountedLock::Lock() {
    DWORD me = GetCurrentThreadId();
    m_cs.lock();
    if (m_count++ == 0) m_owner = me;
}

BOOL CCountedLock::TryLock() {
    DWORD me = GetCurrentThreadId();
    DWORD owner = m_owner.load();
    if (owner != 0 && owner != me) return FALSE; // a stale value only makes this fail or fall through
    if (!m_cs.try_lock()) return FALSE;
    if (m_count++ == 0) m_owner = me;
    return TRUE;
}

void CCountedLock::Unlock() {
    if (--m_count == 0) m_owner = 0;
    m_cs.unlock();
}
