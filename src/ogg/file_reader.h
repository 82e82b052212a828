// The file's one reader: a thread that reads the file from one position on and hands every page to the read-ahead
// of the stream it belongs to (while that stream takes pages in the current run). It reads while a stream wants
// more, and sleeps when none does. A seek's search runs here too, so that only this thread reads while a
// presentation plays, and no host call ever waits for a read.
//
// One stream's queue at its limits while another starves: the reader waits for the full one to be emptied as long
// as the host takes its samples (a request of its waits); when it does not, that stream falls behind: on a byte
// stream that can seek it later reads for itself from the first page it missed, until it meets the reader's
// position again; where the byte stream cannot seek, its pages are dropped, and its next sample after the gap is a
// discontinuity (MFSampleExtension_Discontinuity), which is how the host learns of it.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "link_follower.h"
#include "ogg_stream.h"
#include "page_scanner.h"
#include "page_sync.h"
#include "support/am_thread.h"

class COggDemuxer;
class CSeekSearch;

// What the reader is asked to do; every change makes a new generation.
struct ReaderJob {
    enum Kind { Idle, Run, Join, Exit } kind = Idle;
    DWORD run = 0;
    LONGLONG start = 0; // Run: where every stream resumes (0: the start, no search); Join: where joining streams do
    uint64_t generation = 0;
};

class COggFileReader : public CAMThread, public IReaderWake, public IReadCancel {
public:
    explicit COggFileReader(COggDemuxer* core);
    ~COggFileReader() override;
    // The reader's state for each of the core's streams; E_OUTOFMEMORY when there is no memory for it.
    HRESULT Init();

    // The owner's side. Each returns at once.
    void Post(ReaderJob::Kind kind, DWORD run, LONGLONG start);
    void Wake() override;
    // Whether the job in hand has been replaced (the reader's reads in progress are then of no use).
    bool Superseded() override;

protected:
    DWORD WorkerMain() override;

private:
    // A position in the file and the pages found there, with a page a full queue could not take yet.
    struct Cursor {
        CPageSync sync;
        OggPageView held;      // offset -1: none
        bool atEnd = false;    // a read found nothing more: the data ends after what is held
        bool ended = false;    // the end (or the failure) was told to the streams
        void Reset(LONGLONG at);
    };
    // The reader's view of each stream of the run.
    struct StreamState {
        LONGLONG from = 0;     // pages before this offset are not the stream's in this run
        bool taking = false;   // took pages when the job was set up
        bool behind = false;   // reads for itself (cursor) until it meets the main cursor
        Cursor cursor;
        // The last search's answer for this stream.
        bool cached = false;
        LONGLONG cacheStart = 0, cachePosition = 0, cacheTime = 0, cacheWanted = MinTime;
        // A broadcast: the time of its latest page queued, and of the last tick it was sent for having none.
        LONGLONG lastTime = MinTime, tickedAt = MinTime;
        // Its queue is full and its host asks for none of its samples, since then.
        bool idle = false;
        std::chrono::steady_clock::time_point idleSince;
    };
    enum class Dispatch { Taken, Dropped, Wait };

    bool TakeJob(ReaderJob* job);
    void WaitForWork();
    void SetUp(const ReaderJob& job);
    void Join(const ReaderJob& job);
    bool Position(CSeekSearch* search, COggStream* s, LONGLONG start, LONGLONG* position);
    bool Step();
    bool StepMain();
    bool StepBehind(int32_t index);
    // Reads the next bytes of the cursor's position into it; false when the job changed meanwhile.
    bool ReadInto(Cursor* cursor, HRESULT* failure);
    LONGLONG PageTime(COggStream* s, const OggPageView& page) const;
    Dispatch Hand(COggStream* s, const OggPageView& page, bool mayFallBehind, LONGLONG time, COggLiveLink* enters);
    Dispatch DispatchMain(const OggPageView& page);
    Dispatch DispatchFollowed(const OggPageView& page);
    bool StepReleased();
    bool StepDraining();
    void Tick(const COggStream* s, LONGLONG time);
    void EndData(Cursor* cursor, int32_t only, HRESULT cause);
    bool AnyWantsMore();
    bool OtherStarves(const COggStream* s);
    LONGLONG MainPosition() const;

    COggDemuxer* m_pCore;
    std::mutex m_lock;
    std::condition_variable m_wake;
    ReaderJob m_job;            // under m_lock
    bool m_wakePending = false; // under m_lock
    bool m_sleeping = false;    // under m_lock
    // The reader thread's own.
    uint64_t m_generation = ~uint64_t(0);
    DWORD m_run = 0;
    bool m_active = false;
    Cursor m_main;
    bool m_mainStarted = false; // a run has read from it (bytes that cannot be read again go on from there)
    CLinkFollower* m_follower = nullptr; // bytes that cannot be read again: their links, found as they are read
    bool m_live = false;                 // a broadcast: read while no run takes pages, so that it never stalls
    bool m_recheck = false;              // the next wait ends in time to look at an idle stream again
    LONGLONG m_runFirstTime = MinTime;   // a broadcast: the time of the run's first page
    static constexpr std::chrono::milliseconds kIdleGrace{300};
    // Filling held back for a first page that production has yet to take (AnyWantsMore), since then.
    bool m_holding = false;
    std::chrono::steady_clock::time_point m_holdSince;
    StreamState* m_streams = nullptr;
    int32_t m_cStreams = 0;
};
