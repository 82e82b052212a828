// Between the reader thread and sample production: queuing timed pages and handing them on.
#include "ogg_stream.h"
#include "source_core.h"

namespace {
constexpr LONGLONG kReadAheadSpan = 100000000; // 10 s queued: the reader sleeps
constexpr LONGLONG kFillSpan = 20000000;       // 2 s queued and the stream's page mark reached: the reader sleeps
constexpr LONGLONG kPrebufferSpan = 5000000;   // 0.5 s queued before the first sample of a run
constexpr LONGLONG kWakeSpan = 10000000;       // below 1 s queued the reader is woken
} // namespace

// A page's time on the first link's own timeline (what the read-ahead measures spans in).
LONGLONG COggStream::PageTime(const ogg_page* page, LONGLONG granule) const {
    if (!m_pChain) return GranuleToTime(granule);
    const int32_t k = LinkOfSerial(static_cast<uint32_t>(ogg_page_serialno(page)));
    const LONGLONG t = k < 0 ? -1 : m_pChain[k].record->GranuleToTime(granule);
    return t < 0 ? t : SatAdd(t, m_pSource->m_pLinks[k].Shift(m_pSource->m_llOrigin));
}

// The production enters another link: the stream state takes that link's serial and codec, its times their
// shift, and the next sample is a discontinuity with that link's headers ahead of it.
void COggStream::SwitchLink(uint32_t serial) {
    const int32_t k = LinkOfSerial(serial);
    if (k < 0) return;
    ogg_stream_reset_serialno(&m_oggStream, static_cast<int>(serial));
    m_playLink = k;
    m_pPlayCodec = m_pChain[k].record->m_pCodec;
    m_playShift = m_pSource->m_pLinks[k].Shift(m_pSource->m_llOrigin);
    m_bNoGranuleRef = 1;
    m_lastPacketNo = -1;
    m_lastGranule = -1;
    m_lastUnits = 0;
    m_bDiscontinuity = 1;
}

bool COggStream::QueuePage(ogg_page* page, bool* wake) {
    const LONGLONG g = ogg_page_granulepos(page);
    if (g == -1) {
        AddPage(page, nullptr);
    } else {
        LONGLONG t = PageTime(page, g);
        AddPage(page, &t);
    }
    int32_t count;
    LONGLONG span;
    int64_t bytes = 0;
    Snapshot(&count, &span, &bytes);
    const bool full = ReadAheadFull(count, span, bytes);
    // Production waits only on an empty queue or behind the prebuffer gate: it is woken when it can go on (the
    // first page, what the gate waits for, or a queue the reader will add no more to), not for every page.
    const bool go = count == 1 || full || count >= m_queueHigh || span >= kPrebufferSpan;
    if (wake) *wake = go; // the reader signals once it has settled whether it sleeps
    else if (go) m_evData.Set();
    return full;
}

// Full: whatever the pages' times say, no more than kMaxQueuePages and kMaxQueueBytes (pages without a usable time
// never fill a span); else 10 s, or the stream's page mark and 2 s (a page mark alone, reached with less than the
// wake span queued, woke the reader again at every page taken).
bool COggStream::ReadAheadFull(int32_t count, LONGLONG span, int64_t bytes) const {
    if (count >= kMaxQueuePages || bytes >= kMaxQueueBytes || span >= kReadAheadSpan) return true;
    return count >= m_queueHigh && span >= kFillSpan;
}

bool COggStream::FeedPage() {
    bool gate = m_bDiscontinuity != 0;
    if (!gate) {
        CAutoLock lock(m_csStarved);
        gate = m_bStarved != FALSE;
    }
    int32_t count;
    LONGLONG span;
    int64_t bytes = 0;
    if (gate && m_pStream && !m_reader.EndOfFile()) {
        Snapshot(&count, &span, &bytes);
        // The gate waits for what the reader can still add: never for a queue it holds full.
        if (!ReadAheadFull(count, span, bytes) && count < m_queueHigh && (count == 0 || span < kPrebufferSpan)) {
            m_reader.m_evWork.Set();
            return false;
        }
    }
    PageNode* node = RemoveHead();
    if (!node) {
        m_reader.m_evWork.Set();
        return false;
    }
    if (m_pChain && static_cast<uint32_t>(ogg_page_serialno(&node->page)) != static_cast<uint32_t>(m_oggStream.serialno))
        SwitchLink(static_cast<uint32_t>(ogg_page_serialno(&node->page)));
    ogg_stream_pagein(&m_oggStream, &node->page);
    Recycle(node);
    Snapshot(&count, &span, &bytes);
    if (count < m_queueLow || (span < kWakeSpan && count < kMaxQueuePages && bytes < kMaxQueueBytes)) m_reader.m_evWork.Set();
    return true;
}
