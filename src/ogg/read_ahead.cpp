// The read-ahead (read_ahead.h).
#include "read_ahead.h"

namespace {
constexpr LONGLONG kReadAheadSpan = 100000000; // 10 s queued: the reader stops for this stream
constexpr LONGLONG kFillSpan = 20000000;       // 2 s queued and the stream's page mark reached: likewise
constexpr LONGLONG kPrebufferSpan = 5000000;   // 0.5 s queued before the first sample of a run
constexpr LONGLONG kWakeSpan = 10000000;       // below 1 s queued the reader reads again
} // namespace

void COggReadAhead::SetMarks(int32_t high, int32_t low) {
    std::lock_guard<std::mutex> g(m_lock);
    m_high = high;
    m_low = low;
}

void COggReadAhead::Restart(DWORD run) {
    std::lock_guard<std::mutex> g(m_lock);
    m_run = run;
    m_queue.Clear();
    m_wait = Wait::Nothing;
    m_starved = m_readerWaits = m_ended = m_firstOut = m_gateOpened = false;
    m_cause = S_OK;
}

void COggReadAhead::SetLastTime(DWORD run, LONGLONG time) {
    std::lock_guard<std::mutex> g(m_lock);
    if (run == m_run) m_queue.SetLastTime(time);
}

// Whatever the pages' times say, no more than kMaxQueuePages and kMaxQueueBytes (pages without a usable time never
// fill a span).
bool COggReadAhead::AtLimitLocked(int32_t count, int64_t bytes) const {
    return count >= kMaxQueuePages || bytes >= kMaxQueueBytes;
}

// Full: the limits, 10 s, or the stream's page mark and 2 s (a page mark alone, reached with less than the wake
// span queued, had the reader woken again at every page taken).
bool COggReadAhead::FullLocked(int32_t count, LONGLONG span, int64_t bytes) const {
    if (AtLimitLocked(count, bytes) || span >= kReadAheadSpan) return true;
    return count >= m_high && span >= kFillSpan;
}

COggReadAhead::Add COggReadAhead::Queue(DWORD run, const ogg_page& page, const LONGLONG* time, bool* wake,
                                        COggLiveLink* link) {
    *wake = false;
    std::lock_guard<std::mutex> g(m_lock);
    if (run != m_run || m_ended) return Add::Stale;
    int32_t count;
    LONGLONG span;
    int64_t bytes;
    m_queue.Snapshot(&count, &span, &bytes);
    if (AtLimitLocked(count, bytes)) {
        m_readerWaits = true;
        return Add::Full;
    }
    // No memory for the copy: the page is lost, and the stream sees a gap; a page that enters a link is offered again
    // with the stream's next page.
    if (!m_queue.AddPage(&page, time, link) && link) return Add::Stale;
    m_queue.Snapshot(&count, &span, &bytes);
    // Production is woken when it can go on (the first page, or what the gate waits for), not for every page.
    const bool go = m_wait == Wait::AnyPage || (m_wait == Wait::Prebuffer && PrebufferedLocked(count, span, bytes));
    if (go) {
        m_wait = Wait::Nothing;
        *wake = true;
    }
    return Add::Queued;
}

// What the gate waits for before the run's first page goes out: half a second or the page mark (or a full queue).
bool COggReadAhead::PrebufferedLocked(int32_t count, LONGLONG span, int64_t bytes) const {
    return span >= kPrebufferSpan || count >= m_high || FullLocked(count, span, bytes);
}

bool COggReadAhead::WantsMore() {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_ended) return false;
    int32_t count;
    LONGLONG span;
    int64_t bytes;
    m_queue.Snapshot(&count, &span, &bytes);
    return !FullLocked(count, span, bytes);
}

COggReadAhead::Need COggReadAhead::Wanted() {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_ended) return Need::Nothing;
    int32_t count;
    LONGLONG span;
    int64_t bytes;
    m_queue.Snapshot(&count, &span, &bytes);
    if (!m_firstOut)
        return (m_gateOpened && count > 0) || PrebufferedLocked(count, span, bytes) ? Need::FirstPending : Need::Gate;
    return FullLocked(count, span, bytes) ? Need::Nothing : Need::More;
}

bool COggReadAhead::Low() {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_ended) return false;
    int32_t count;
    LONGLONG span;
    int64_t bytes;
    m_queue.Snapshot(&count, &span, &bytes);
    return count < m_low || (span < kWakeSpan && !AtLimitLocked(count, bytes));
}

bool COggReadAhead::Starving() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_wait != Wait::Nothing && !m_ended;
}

void COggReadAhead::EndData(DWORD run, HRESULT cause, bool* wake) {
    *wake = false;
    std::lock_guard<std::mutex> g(m_lock);
    if (run != m_run || m_ended) return;
    m_ended = true;
    m_cause = cause;
    m_starved = false;
    *wake = m_wait != Wait::Nothing;
    m_wait = Wait::Nothing;
}

PageNode* COggReadAhead::Take(bool gate, bool* readerWake) {
    *readerWake = false;
    std::lock_guard<std::mutex> g(m_lock);
    int32_t count;
    LONGLONG span;
    int64_t bytes;
    m_queue.Snapshot(&count, &span, &bytes);
    // The gate waits for what the reader can still add: never for a queue it holds full. Before the run's first
    // sample it opens once: the pages it let through that end before a seek's target are dropped, and the prebuffer
    // they made up is not asked for again before the page that holds the target goes out.
    const bool gated = (gate && !m_gateOpened) || (m_starved && m_firstOut);
    if (gated && !m_ended && !FullLocked(count, span, bytes) && count < m_high &&
        (count == 0 || span < kPrebufferSpan)) {
        m_wait = Wait::Prebuffer;
        *readerWake = true;
        return nullptr;
    }
    if (gate) m_gateOpened = true;
    PageNode* node = m_queue.RemoveHead();
    if (!node) {
        m_wait = m_ended ? Wait::Nothing : Wait::AnyPage;
        m_starved = !m_ended;
        *readerWake = !m_ended;
        return nullptr;
    }
    m_wait = Wait::Nothing;
    m_queue.Snapshot(&count, &span, &bytes);
    *readerWake = count < m_low || (span < kWakeSpan && !AtLimitLocked(count, bytes));
    if (*readerWake) m_readerWaits = false;
    return node;
}

void COggReadAhead::FirstSampleOut(DWORD run, bool* readerWake) {
    std::lock_guard<std::mutex> g(m_lock);
    *readerWake = run == m_run && !m_firstOut;
    if (*readerWake) m_firstOut = true;
}

bool COggReadAhead::Drained(HRESULT* cause) {
    std::lock_guard<std::mutex> g(m_lock);
    *cause = m_cause;
    return m_ended && m_queue.Count() == 0;
}

void COggReadAhead::ProductionStopped(bool* readerWake) {
    std::lock_guard<std::mutex> g(m_lock);
    *readerWake = m_readerWaits;
    m_readerWaits = false;
}

void COggReadAhead::Fed() {
    std::lock_guard<std::mutex> g(m_lock);
    m_starved = false;
}
