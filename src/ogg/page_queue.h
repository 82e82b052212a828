// A stream's queue of timed page copies, oldest first, with a free list so that steady reading allocates
// nothing per page.
#pragma once
#include <ogg/ogg.h>

#include "support/alloc.h"
#include "support/lock.h"

class COggLiveLink;

struct PageNode : CNoThrowAlloc {
    PageNode* pNext = nullptr;
    COggLiveLink* link = nullptr; // the link of a broadcast this page enters its stream into (held), or none
    LONGLONG tTime = 0;
    ogg_page page{};
    int32_t cbHeaderCapacity = 0;
    int32_t cbBodyCapacity = 0;
};

class COggPageQueue : public CNoThrowAlloc {
public:
    COggPageQueue() = default;
    ~COggPageQueue();
    COggPageQueue(const COggPageQueue&) = delete;
    COggPageQueue& operator=(const COggPageQueue&) = delete;

    // Copies the page; pTime null means the page has no granule position; link (held while queued): the link the
    // page enters. False when there was no memory for it.
    bool AddPage(const ogg_page* page, const LONGLONG* pTime, COggLiveLink* link = nullptr);
    PageNode* RemoveHead();
    void Recycle(PageNode* node);
    // Empties the queue; its entries are kept for reuse (no more than the queue held).
    void Clear();

    // Count, span (tail time - head time, 0 when empty or when the times run backwards) and the bytes the queued
    // pages hold (their copies' capacities), read together under the lock.
    void Snapshot(int32_t* count, LONGLONG* span, int64_t* bytes = nullptr);
    int32_t Count();
    void SetLastTime(LONGLONG t) {
        CAutoLock lock(m_lock);
        m_tLastTime = t;
    }
    // What the tests look at.
    int32_t HeaderCapacity() const { return m_cbHeaderCapacity; }
    int32_t BodyCapacity() const { return m_cbBodyCapacity; }
    bool FreeListEmpty() const { return m_pFreeList == nullptr; }
    LONGLONG LastTime() const { return m_tLastTime; }

private:
    CLock m_lock;
    PageNode* m_pHead = nullptr;
    PageNode* m_pTail = nullptr;
    PageNode* m_pFreeList = nullptr;
    int32_t m_nCount = 0;
    int64_t m_nBytes = 0;
    int32_t m_cbHeaderCapacity = 128;
    int32_t m_cbBodyCapacity = 5120;
    LONGLONG m_tLastTime = 0;

    static void FreeNode(PageNode* node);
    static void FreeChain(PageNode* node);
    PageNode* NewNode();
};
