#include "page_queue.h"

#include "live_link.h"
#include "ogg_types.h"
#include "support/alloc.h"

#include <cstdlib>
#include <cstring>

COggPageQueue::~COggPageQueue() {
    Clear();
    FreeChain(m_pFreeList);
}

void COggPageQueue::FreeNode(PageNode* node) {
    if (node->link) node->link->Release();
    std::free(node->page.header);
    std::free(node->page.body);
    delete node;
}

void COggPageQueue::FreeChain(PageNode* node) {
    while (node) {
        PageNode* next = node->pNext;
        FreeNode(node);
        node = next;
    }
}

PageNode* COggPageQueue::NewNode() {
    PageNode* node = new PageNode;
    if (!node) return nullptr;
    node->cbHeaderCapacity = m_cbHeaderCapacity;
    node->cbBodyCapacity = m_cbBodyCapacity;
    node->page.header = static_cast<unsigned char*>(AllocBytes(static_cast<size_t>(m_cbHeaderCapacity)));
    node->page.body = static_cast<unsigned char*>(AllocBytes(static_cast<size_t>(m_cbBodyCapacity)));
    if (!node->page.header || !node->page.body) {
        FreeNode(node);
        return nullptr;
    }
    return node;
}

bool COggPageQueue::AddPage(const ogg_page* page, const LONGLONG* pTime, COggLiveLink* link) {
    CAutoLock lock(m_lock);
    PageNode* node = nullptr;
    bool grew = false;
    if (page->header_len > m_cbHeaderCapacity) {
        m_cbHeaderCapacity = static_cast<int32_t>(page->header_len / 128 * 128 + 128);
        grew = true;
    }
    if (!grew && page->body_len <= m_cbBodyCapacity) {
        if (m_pFreeList) {
            node = m_pFreeList;
            m_pFreeList = node->pNext;
        }
    } else {
        if (page->body_len > m_cbBodyCapacity)
            m_cbBodyCapacity = static_cast<int32_t>(page->body_len / 1024 * 1024 + 1024);
        FreeChain(m_pFreeList); // entries made for the old capacities are never reused
        m_pFreeList = nullptr;
    }
    if (!node) node = NewNode();
    if (!node) return false; // no memory for the copy: the page is dropped
    std::memcpy(node->page.header, page->header, static_cast<size_t>(page->header_len));
    std::memcpy(node->page.body, page->body, static_cast<size_t>(page->body_len));
    node->page.header_len = page->header_len;
    node->page.body_len = page->body_len;
    if (pTime) {
        node->tTime = *pTime;
        m_tLastTime = *pTime;
    } else {
        node->tTime = m_tLastTime;
    }
    node->link = link;
    if (link) link->AddRef();
    node->pNext = nullptr;
    if (m_pTail) m_pTail->pNext = node;
    else m_pHead = node;
    m_pTail = node;
    ++m_nCount;
    m_nBytes += node->cbHeaderCapacity + node->cbBodyCapacity;
    return true;
}

PageNode* COggPageQueue::RemoveHead() {
    CAutoLock lock(m_lock);
    PageNode* node = m_pHead;
    if (!node) return nullptr;
    m_pHead = node->pNext;
    if (!m_pHead) m_pTail = nullptr;
    --m_nCount;
    m_nBytes -= node->cbHeaderCapacity + node->cbBodyCapacity;
    return node;
}

void COggPageQueue::Recycle(PageNode* node) {
    if (!node) return;
    if (node->link) node->link->Release();
    node->link = nullptr;
    {
        CAutoLock lock(m_lock);
        if (node->cbHeaderCapacity >= m_cbHeaderCapacity && node->cbBodyCapacity >= m_cbBodyCapacity) {
            node->pNext = m_pFreeList;
            m_pFreeList = node;
            return;
        }
    }
    FreeNode(node);
}

// The queued pages go to the free list (a seek refills the queue at once: its copies are not allocated again);
// entries of outgrown capacities are freed, as in Recycle.
void COggPageQueue::Clear() {
    CAutoLock lock(m_lock);
    m_tLastTime = 0;
    for (PageNode* node = m_pHead; node;) {
        PageNode* next = node->pNext;
        if (node->link) node->link->Release();
        node->link = nullptr;
        if (node->cbHeaderCapacity >= m_cbHeaderCapacity && node->cbBodyCapacity >= m_cbBodyCapacity) {
            node->pNext = m_pFreeList;
            m_pFreeList = node;
        } else {
            FreeNode(node);
        }
        node = next;
    }
    m_pHead = m_pTail = nullptr;
    m_nCount = 0;
    m_nBytes = 0;
}

void COggPageQueue::Snapshot(int32_t* count, LONGLONG* span, int64_t* bytes) {
    CAutoLock lock(m_lock);
    *count = m_nCount;
    // Times come from the file: a span that would overflow is as long as can be, one that runs backwards none.
    const LONGLONG s = m_pHead ? SatAdd(m_pTail->tTime, m_pHead->tTime == MinTime ? MaxTime : -m_pHead->tTime) : 0;
    *span = s > 0 ? s : 0;
    if (bytes) *bytes = m_nBytes;
}

int32_t COggPageQueue::Count() {
    CAutoLock lock(m_lock);
    return m_nCount;
}
