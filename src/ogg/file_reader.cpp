// The file's reader (file_reader.h): its jobs, its main position and the streams that read for themselves.
#include "file_reader.h"

#include "ogg_demuxer.h"
#include "seek_search.h"
#include "support/alloc.h"
#include "support/trace.h"

void COggFileReader::Cursor::Reset(LONGLONG at) {
    sync.Reset(at);
    held.offset = -1;
    atEnd = ended = false;
}

COggFileReader::COggFileReader(COggDemuxer* core) : m_pCore(core) { SetThreadName("ogg reader"); }

COggFileReader::~COggFileReader() {
    JoinThread();
    delete m_follower;
    delete[] m_streams;
}

void COggFileReader::Post(ReaderJob::Kind kind, DWORD run, LONGLONG start) {
    std::lock_guard<std::mutex> g(m_lock);
    m_job.kind = kind;
    m_job.run = run;
    m_job.start = start;
    ++m_job.generation;
    m_wakePending = true;
    if (m_sleeping) m_wake.notify_one();
}

void COggFileReader::Wake() {
    std::lock_guard<std::mutex> g(m_lock);
    m_wakePending = true;
    if (m_sleeping) m_wake.notify_one();
}

bool COggFileReader::Superseded() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_job.generation != m_generation;
}

bool COggFileReader::TakeJob(ReaderJob* job) {
    std::lock_guard<std::mutex> g(m_lock);
    *job = m_job;
    const bool fresh = m_job.generation != m_generation;
    m_generation = m_job.generation;
    return fresh;
}

// Until woken, or (a stream waited for whose host asks for nothing yet) until it is time to look at it again.
void COggFileReader::WaitForWork() {
    std::unique_lock<std::mutex> g(m_lock);
    m_sleeping = true;
    auto woken = [this] { return m_wakePending || m_job.generation != m_generation; };
    if (m_recheck) m_wake.wait_for(g, kIdleGrace / 2, woken);
    else m_wake.wait(g, woken);
    m_recheck = false;
    m_sleeping = false;
    m_wakePending = false;
}

HRESULT COggFileReader::Init() {
    m_cStreams = m_pCore->StreamCount();
    m_streams = PlatAllocationRefused() ? nullptr : new (std::nothrow) StreamState[static_cast<size_t>(m_cStreams)];
    if (!m_streams) return E_OUTOFMEMORY;
    m_live = m_pCore->Caps().Live();
    if (m_pCore->Caps().seekable) return S_OK;
    m_follower = new CLinkFollower(m_pCore);
    return m_follower ? m_follower->Init() : E_OUTOFMEMORY;
}

DWORD COggFileReader::WorkerMain() {
    COggDemuxer* core = m_pCore; // the thread's own reference, taken by the core when it started the thread
    for (;;) {
        ReaderJob job;
        const bool fresh = TakeJob(&job);
        if (job.kind == ReaderJob::Exit) break;
        if (fresh && job.kind == ReaderJob::Join) Join(job);
        else if (fresh) SetUp(job);
        const bool busy = m_active ? Step() : StepDraining();
        if (!busy) WaitForWork();
    }
    core->Release(); // may destroy the core, and this reader with it: nothing of `this` is used after
    return 0;
}

void COggFileReader::SetUp(const ReaderJob& job) {
    m_run = job.run;
    m_active = job.kind == ReaderJob::Run;
    const bool seekable = m_pCore->Caps().seekable;
    if (seekable || !m_mainStarted) m_main.Reset(0);
    else if (m_main.ended) m_main.ended = false; // goes on from where it is: its end is told to this run again
    if (m_active) m_mainStarted = true;
    if (m_follower) m_follower->NewRun();
    m_runFirstTime = MinTime;
    m_holding = false;
    for (int32_t i = 0; i < m_cStreams; ++i) {
        StreamState& st = m_streams[i];
        st.from = 0;
        st.behind = false;
        st.cursor.Reset(0);
        st.lastTime = st.tickedAt = MinTime;
        st.idle = false;
        st.taking = m_active && m_pCore->Stream(i)->TakesPages(m_run);
    }
    // Bytes that cannot be read again: every run goes on from where the one before left them.
    if (!m_active || job.start == 0 || !seekable) return;
    // A seek: every stream's page for the target (one search, its reads shared); the reader starts at the
    // earliest of them and gives each stream the pages from its own on.
    CSeekSearch search(m_pCore, this);
    LONGLONG from = MaxTime;
    for (int32_t i = 0; i < m_cStreams; ++i) {
        if (!m_streams[i].taking) continue;
        if (!Position(&search, m_pCore->Stream(i), job.start, &m_streams[i].from)) return; // superseded
        if (m_streams[i].from < from) from = m_streams[i].from;
    }
    m_main.Reset(from == MaxTime ? 0 : from);
}

// The selection changed on a resume. A stream selected now reads for itself from where the presentation is, when
// the bytes can be read there again; else it takes the pages from the reader's position on. One deselected takes
// nothing more.
void COggFileReader::Join(const ReaderJob& job) {
    if (!m_active || job.run != m_run) return;
    CSeekSearch search(m_pCore, this);
    for (int32_t i = 0; i < m_cStreams; ++i) {
        StreamState& st = m_streams[i];
        COggStream* s = m_pCore->Stream(i);
        const bool taking = s->TakesPages(m_run);
        if (st.taking && !taking) st.taking = st.behind = false;
        if (st.taking || !taking) continue;
        st.taking = true;
        if (!m_pCore->Caps().seekable) {
            st.from = MainPosition();
            s->Positioned(m_run, MinTime, 0, MinTime);
            continue;
        }
        LONGLONG position = 0;
        if (!Position(&search, s, job.start, &position)) return;
        st.behind = true;
        st.cursor.Reset(position);
    }
}

// The search for one stream (answered from its last search when the target is the same); false when the job was
// replaced meanwhile.
bool COggFileReader::Position(CSeekSearch* search, COggStream* s, LONGLONG start, LONGLONG* position) {
    StreamState& st = m_streams[s->Index()];
    LONGLONG time = 0, wanted = MinTime;
    if (st.cached && st.cacheStart == start) {
        *position = st.cachePosition;
        time = st.cacheTime;
        wanted = st.cacheWanted;
    } else {
        const HRESULT hr = m_pCore->ResumePoint(search, s, start, position, &time, &wanted);
        if (Superseded()) return false;
        if (FAILED(hr)) {
            *position = 0;
        } else {
            st.cached = true;
            st.cacheStart = start;
            st.cachePosition = *position;
            st.cacheTime = time;
            st.cacheWanted = wanted;
        }
    }
    s->Positioned(m_run, wanted, time, start == 0 ? MinTime : start); // a start at 0 delivers every packet
    return true;
}

LONGLONG COggFileReader::MainPosition() const { return m_main.held.offset >= 0 ? m_main.held.offset : m_main.sync.Position(); }

// A stream below what its first sample waits for is read for at once. Once every stream has that, and some
// stream's production has yet to hand on its first sample, the reader leaves the CPU to production until it has: a
// seek's first samples do not wait while the reader copies and checks the seconds after them. The pause is short
// (that first sample wakes the reader) and bounded: after kIdleGrace / 2 the reader fills the other streams all
// the same (a stream whose host asks for nothing holds nobody up).
bool COggFileReader::AnyWantsMore() {
    bool more = false, firstPending = false;
    for (int32_t i = 0; i < m_cStreams; ++i) {
        const StreamState& st = m_streams[i];
        if (!st.taking || st.behind) continue;
        switch (m_pCore->Stream(i)->ReadAhead().Wanted()) {
        case COggReadAhead::Need::Gate:
            return true;
        case COggReadAhead::Need::FirstPending:
            firstPending = true;
            break;
        case COggReadAhead::Need::More:
            more = true;
            break;
        case COggReadAhead::Need::Nothing:
            break;
        }
    }
    if (!firstPending || !more) {
        m_holding = false;
        return more;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!m_holding) {
        m_holding = true;
        m_holdSince = now;
    }
    if (now - m_holdSince >= kIdleGrace / 2) return true;
    m_recheck = true;
    return false;
}

// One step of reading; false when there is nothing to do until something wakes the reader.
bool COggFileReader::Step() {
    for (int32_t i = 0; i < m_cStreams; ++i) {
        StreamState& st = m_streams[i];
        if (st.behind && !st.cursor.ended && m_pCore->Stream(i)->ReadAhead().Low()) return StepBehind(i);
    }
    if (m_main.held.offset >= 0) {
        if (DispatchMain(m_main.held) == Dispatch::Wait) return false; // its stream's production wakes the reader
        m_main.held.offset = -1;
        return true;
    }
    if (m_follower && StepReleased()) return true;
    if (m_main.ended || !AnyWantsMore()) return false;
    return StepMain();
}

// The pages a link read once held until its headers were in, placed again now that it is known.
bool COggFileReader::StepReleased() {
    OggPageView page;
    if (!m_follower->TakeReleased(&page)) return false;
    if (DispatchMain(page) == Dispatch::Wait) m_main.held = page; // the copy stays until the next page released
    return true;
}

// A broadcast while no run takes its pages: read on and dropped (its links still followed), so that the server
// never sees a client that stopped reading. False when the data has ended.
bool COggFileReader::StepDraining() {
    if (!m_live || !m_mainStarted || m_main.ended) return false;
    OggPageView page;
    CLinkFollower::Placed placed;
    while (m_follower->TakeReleased(&page)) m_follower->Place(page, &placed);
    m_main.held.offset = -1;
    while (m_main.sync.Next(&page)) m_follower->Place(page, &placed);
    if (m_main.atEnd) return false; // told to the next run
    HRESULT failure = S_OK;
    if (!ReadInto(&m_main, &failure)) return true;
    return SUCCEEDED(failure);
}

bool COggFileReader::StepMain() {
    OggPageView page;
    while (m_main.sync.Next(&page)) {
        if (DispatchMain(page) == Dispatch::Wait) {
            m_main.held = page;
            return true;
        }
        if (m_follower && m_follower->HasReleased()) return true; // a link's held pages go first
    }
    if (m_main.atEnd) {
        EndData(&m_main, -1, S_OK);
        return true;
    }
    HRESULT failure = S_OK;
    if (!ReadInto(&m_main, &failure)) return true;
    if (FAILED(failure)) EndData(&m_main, -1, failure);
    return true;
}

// A stream behind the reader: its own pages up to where the main cursor is, then it takes the main cursor's.
bool COggFileReader::StepBehind(int32_t index) {
    StreamState& st = m_streams[index];
    COggStream* s = m_pCore->Stream(index);
    Cursor& c = st.cursor;
    OggPageView page;
    for (;;) {
        if (c.held.offset >= 0) page = c.held;
        else if (!c.sync.Next(&page)) break;
        c.held.offset = -1;
        if (!m_main.ended && page.offset >= MainPosition()) {
            st.behind = false; // the main cursor hands it its pages from here on
            return true;
        }
        if (!s->Logical().OwnsSerial(page.header.serial)) continue;
        if (Hand(s, page, false, PageTime(s, page), nullptr) == Dispatch::Wait) {
            c.held = page;
            return false;
        }
    }
    if (c.atEnd) {
        EndData(&c, index, S_OK);
        return true;
    }
    HRESULT failure = S_OK;
    if (!ReadInto(&c, &failure)) return true;
    if (FAILED(failure)) EndData(&c, index, failure);
    return true;
}

bool COggFileReader::ReadInto(Cursor* cursor, HRESULT* failure) {
    const LONGLONG at = cursor->sync.End();
    const LONGLONG length = m_pCore->Caps().length;
    LONG size = m_pCore->Caps().ReadChunk();
    if (length >= 0) {
        if (at >= length) {
            cursor->atEnd = true;
            return true;
        }
        if (length - at < size) size = static_cast<LONG>(length - at);
    }
    BYTE* space = cursor->sync.Space(static_cast<size_t>(size));
    if (!space) {
        *failure = E_OUTOFMEMORY;
        return true;
    }
    LONG got = 0;
    const HRESULT hr = m_pCore->Source()->ReadAt(at, space, size, &got); // may take long: no lock is held
    // What came is kept even when the job changed meanwhile: bytes that cannot be read again are not lost (a new
    // job that wants other bytes resets the cursor).
    if (SUCCEEDED(hr) && got > 0 && got <= size) cursor->sync.Wrote(static_cast<size_t>(got));
    if (Superseded()) return false;
    if (FAILED(hr)) {
        *failure = hr;
        return true;
    }
    if (got < 0 || got > size) got = 0;
    // Nothing read is the end of the data; fewer bytes than asked are only what came so far.
    if (got == 0) cursor->atEnd = true;
    return true;
}

COggFileReader::Dispatch COggFileReader::DispatchMain(const OggPageView& page) {
    if (m_follower) return DispatchFollowed(page);
    COggStream* s = m_pCore->StreamOfSerial(page.header.serial);
    if (!s) return Dispatch::Dropped;
    const StreamState& st = m_streams[s->Index()];
    if (!st.taking || st.behind || page.offset < st.from) return Dispatch::Dropped;
    return Hand(s, page, true, PageTime(s, page), nullptr);
}

// A page of bytes read once: its link tells its stream and time (or holds it while the link is being built).
COggFileReader::Dispatch COggFileReader::DispatchFollowed(const OggPageView& page) {
    CLinkFollower::Placed placed;
    const HRESULT hr = m_follower->Place(page, &placed);
    if (FAILED(hr)) Trace("\nA link of the chain could not be read (0x%08x): its pages are dropped", static_cast<unsigned>(hr));
    if (!placed.stream || !m_streams[placed.stream->Index()].taking) return Dispatch::Dropped;
    const Dispatch d = Hand(placed.stream, page, true, placed.time, placed.enters);
    if (d == Dispatch::Taken) m_follower->Taken(placed);
    if (d == Dispatch::Taken && m_live && placed.time >= 0) Tick(placed.stream, placed.time);
    return d;
}

// A broadcast's stream that has had no page for three seconds of the others' pages (counted from its last page,
// or from the run's first page when it has had none), and whose production waits for one, hears that it has
// nothing at that time, and again three seconds later: a host's clock is not held by it. Three seconds are more
// than a page of any stream spans, so a stream that merely has longer pages is not taken for a silent one.
void COggFileReader::Tick(const COggStream* s, LONGLONG time) {
    constexpr LONGLONG kTickGap = 30000000;
    m_streams[s->Index()].lastTime = time;
    if (m_runFirstTime == MinTime) m_runFirstTime = time;
    IOggDemuxSink* sink = m_pCore->Sink();
    for (int32_t i = 0; i < m_cStreams && sink; ++i) {
        StreamState& st = m_streams[i];
        if (i == s->Index() || !st.taking) continue;
        LONGLONG since = st.lastTime != MinTime ? st.lastTime : m_runFirstTime;
        if (st.tickedAt > since) since = st.tickedAt;
        if (SatSub(time, since) < kTickGap || !m_pCore->Stream(i)->ReadAhead().Starving()) continue;
        st.tickedAt = time;
        sink->StreamIdle(i, m_run, time);
    }
}

// A page's time on the presentation's timeline before the origin is taken off (a chained file's later link: on the
// first link's own timeline); -1 when it has none.
LONGLONG COggFileReader::PageTime(COggStream* s, const OggPageView& page) const {
    const LONGLONG granule = page.header.granule;
    if (granule == -1) return -1;
    const COggLogicalStream& l = s->Logical();
    const int32_t k = l.Chained() ? l.LinkOfSerial(page.header.serial) : 0;
    LONGLONG time = k < 0 ? -1 : l.InLinkOrSelf(k)->GranuleToTime(granule);
    if (time >= 0 && l.Chained()) time = SatAdd(time, m_pCore->Link(k).Shift(m_pCore->Origin()));
    return time;
}

// The page to its stream's read-ahead, with its time (-1: none) and the link read once it enters (null: none).
COggFileReader::Dispatch COggFileReader::Hand(COggStream* s, const OggPageView& page, bool mayFallBehind, LONGLONG time,
                                              COggLiveLink* enters) {
    ogg_page og = AsOggPage(page);
    bool wake = false;
    const COggReadAhead::Add r = s->ReadAhead().Queue(m_run, og, time < 0 ? nullptr : &time, &wake, enters);
    if (wake) {
        if (IOggDemuxSink* sink = m_pCore->Sink()) sink->DataReady(s->Index(), m_run);
    }
    if (r != COggReadAhead::Add::Full) return r == COggReadAhead::Add::Queued ? Dispatch::Taken : Dispatch::Dropped;
    if (!s->TakesPages(m_run)) return Dispatch::Dropped; // deselected or ended meanwhile: nobody empties it
    // Its queue is at its limits. The reader waits for it to be emptied, unless another stream starves meanwhile:
    // then production of the full one is asked to fill the host's reserve from it, and when that reserve is full
    // and the host asks for none of it, the host does not take this stream's samples: it falls behind.
    if (!mayFallBehind || !OtherStarves(s)) return Dispatch::Wait;
    IOggDemuxSink* sink = m_pCore->Sink();
    const IOggDemuxSink::Consumer consumer = sink ? sink->ConsumerOf(s->Index()) : IOggDemuxSink::Consumer::Idle;
    if (consumer == IOggDemuxSink::Consumer::Room) sink->DataReady(s->Index(), m_run);
    StreamState& state = m_streams[s->Index()];
    if (consumer != IOggDemuxSink::Consumer::Idle) {
        state.idle = false;
        return Dispatch::Wait;
    }
    // A host busy elsewhere for a moment is no host that does not take the stream: it must ask for none of it for a
    // while first (the reader looks again meanwhile).
    const auto now = std::chrono::steady_clock::now();
    if (!state.idle) {
        state.idle = true;
        state.idleSince = now;
    }
    if (now - state.idleSince < kIdleGrace) {
        m_recheck = true;
        return Dispatch::Wait;
    }
    state.idle = false;
    if (m_pCore->Caps().seekable) {
        state.behind = true;
        state.cursor.Reset(page.offset); // it reads for itself from the first page it missed
    }
    // else the page is lost: the stream's next page shows the gap, and its next sample is a discontinuity
    return Dispatch::Dropped;
}

bool COggFileReader::OtherStarves(const COggStream* s) {
    for (int32_t i = 0; i < m_cStreams; ++i)
        if (i != s->Index() && m_streams[i].taking && m_pCore->Stream(i)->ReadAhead().Starving()) return true;
    return false;
}

// The end of the data (or its failure) for the streams the cursor reads for: all that take the main cursor's pages,
// or the one stream `only`.
void COggFileReader::EndData(Cursor* cursor, int32_t only, HRESULT cause) {
    cursor->ended = true;
    IOggDemuxSink* sink = m_pCore->Sink();
    for (int32_t i = 0; i < m_cStreams; ++i) {
        const StreamState& st = m_streams[i];
        if (only >= 0 ? i != only : (!st.taking || st.behind)) continue;
        // A broadcast whose data stops where its stream did not end was cut off: that is no clean end.
        HRESULT c = cause;
        if (m_live && SUCCEEDED(cause) && !m_follower->EndedCleanly(i)) c = MF_E_NET_CONNECTION_FAILURE;
        bool wake = false;
        m_pCore->Stream(i)->ReadAhead().EndData(m_run, c, &wake);
        if (wake && sink) sink->DataReady(i, m_run);
    }
}
