// A stream's read-ahead: the pages the file's reader found for it, queued ahead of its production, and the rules
// between the two. The reader queues while the stream is below its fill target and never beyond its limits;
// production takes pages and never waits: when it finds nothing it says what it waits for, and the page that
// brings it (or the end of the data) tells the reader to wake production again.
#pragma once
#include <mutex>

#include "ogg_types.h"
#include "page_queue.h"

class COggReadAhead {
public:
    COggReadAhead() = default;
    COggReadAhead(const COggReadAhead&) = delete;
    COggReadAhead& operator=(const COggReadAhead&) = delete;

    // The stream's page marks (its codec's): what it likes to hold.
    void SetMarks(int32_t high, int32_t low);
    // A new run: everything queued goes, production waits for nothing, the data has not ended. Pages queued for an
    // earlier run are refused from here on.
    void Restart(DWORD run);
    // The time an untimed page takes before any timed one (a seek's: the time of the page it found).
    void SetLastTime(DWORD run, LONGLONG time);

    // The reader's side.
    enum class Add { Queued, Full, Stale };
    // Queues a copy of the page (of run `run`) with its time (null: the page has none) and the link of a broadcast
    // it enters the stream into (null: none). *wake: production waits for what this page brings. Full: the queue is
    // at its limits and the page was not taken.
    Add Queue(DWORD run, const ogg_page& page, const LONGLONG* time, bool* wake, COggLiveLink* link = nullptr);
    // Below its fill target: the reader reads on for this stream.
    bool WantsMore();
    // What the stream needs read: Gate, what its run's first sample waits for; FirstPending, nothing until
    // production has handed on that first sample (which wakes the reader); More, up to its fill target; Nothing.
    enum class Need { Gate, FirstPending, More, Nothing };
    Need Wanted();
    // Below the mark where a reader that stopped for it would read again.
    bool Low();
    // Production waits for pages (it ran dry, or waits for the prebuffer): the stream starves.
    bool Starving();
    // No more pages come in this run: the end of the data (S_OK) or its failure. *wake as for Queue.
    void EndData(DWORD run, HRESULT cause, bool* wake);

    // Production's side.
    // The next page, or null when production must wait: for any page, or for half a second or the stream's page
    // mark, unless the data ended: before the run's first sample (gate) until its first page went out, after it
    // when production ran dry. *readerWake: the queue fell to where the reader reads again.
    PageNode* Take(bool gate, bool* readerWake);
    void Recycle(PageNode* node) { m_queue.Recycle(node); }
    // Production of run `run` has handed on the run's first sample. *readerWake: the first time (the reader, which
    // may have waited for it, fills on).
    void FirstSampleOut(DWORD run, bool* readerWake);
    // The data of the run ended and every page was taken.
    bool Drained(HRESULT* cause);
    // Production stopped because the host holds all the samples it may. *readerWake: the reader waits for this
    // queue to be emptied, and must think again (the host may not be taking this stream's samples at all).
    void ProductionStopped(bool* readerWake);
    // A timed packet went out: the stream is no longer running dry.
    void Fed();

private:
    bool FullLocked(int32_t count, LONGLONG span, int64_t bytes) const;
    bool AtLimitLocked(int32_t count, int64_t bytes) const;
    bool PrebufferedLocked(int32_t count, LONGLONG span, int64_t bytes) const;
    enum class Wait { Nothing, AnyPage, Prebuffer };

    std::mutex m_lock;
    COggPageQueue m_queue;
    DWORD m_run = 0;
    int32_t m_high = 32, m_low = 16;
    Wait m_wait = Wait::Nothing;
    bool m_starved = false;     // production ran dry since its last timed packet
    bool m_readerWaits = false; // the reader stopped because this queue was at its limits
    bool m_ended = false;
    bool m_firstOut = false;   // production handed on the run's first sample
    bool m_gateOpened = false; // the run's first page went out past the gate
    HRESULT m_cause = S_OK;
};
