// Between the reader thread and sample production: queuing timed pages and handing them on.
#include "ogg_stream.h"
#include "source_core.h"

namespace {
constexpr LONGLONG kReadAheadSpan = 100000000; // 10 s queued: the reader sleeps
constexpr LONGLONG kPrebufferSpan = 5000000;   // 0.5 s queued before the first sample of a run
constexpr LONGLONG kWakeSpan = 10000000;       // below 1 s queued the reader is woken
} // namespace

bool COggStream::QueuePage(ogg_page* page) {
    const LONGLONG g = ogg_page_granulepos(page);
    if (g == -1) {
        AddPage(page, nullptr);
    } else {
        LONGLONG t = GranuleToTime(g);
        AddPage(page, &t);
    }
    m_evData.Set();
    int32_t count;
    LONGLONG span;
    Snapshot(&count, &span);
    if (count >= m_queueHigh) return true;
    if (count == 0) return false;
    return span >= kReadAheadSpan;
}

bool COggStream::FeedPage() {
    bool gate = m_bDiscontinuity != 0;
    if (!gate) {
        CAutoLock lock(m_csStarved);
        gate = m_bStarved != FALSE;
    }
    int32_t count;
    LONGLONG span;
    if (gate && m_pStream && !m_reader.EndOfFile()) {
        Snapshot(&count, &span);
        if (count < m_queueHigh && (count == 0 || span < kPrebufferSpan)) {
            m_reader.m_evWork.Set();
            return false;
        }
    }
    PageNode* node = RemoveHead();
    if (!node) {
        m_reader.m_evWork.Set();
        return false;
    }
    ogg_stream_pagein(&m_oggStream, &node->page);
    Recycle(node);
    Snapshot(&count, &span);
    if (count < m_queueLow) m_reader.m_evWork.Set();
    else if (count < m_queueHigh && span < kWakeSpan) m_reader.m_evWork.Set();
    return true;
}
