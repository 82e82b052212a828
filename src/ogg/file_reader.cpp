// The file's reader (file_reader.h): its jobs, its main position and the streams that read for themselves.
#include "file_reader.h"

#include "ogg_demuxer.h"
#include "seek_search.h"
#include "support/alloc.h"

namespace {
constexpr LONG kChunk = 65536; // bytes per read

ogg_page AsOggPage(const OggPageView& v) {
    ogg_page og;
    og.header = const_cast<BYTE*>(v.data);
    og.header_len = v.header.headerLen;
    og.body = const_cast<BYTE*>(v.data + v.header.headerLen);
    og.body_len = v.header.bodyLen;
    return og;
}
} // namespace

void COggFileReader::Cursor::Reset(LONGLONG at) {
    sync.Reset(at);
    held.offset = -1;
    atEnd = ended = false;
}

COggFileReader::COggFileReader(COggDemuxer* core) : m_pCore(core) { SetThreadName("ogg reader"); }

COggFileReader::~COggFileReader() {
    JoinThread();
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

void COggFileReader::WaitForWork() {
    std::unique_lock<std::mutex> g(m_lock);
    m_sleeping = true;
    m_wake.wait(g, [this] { return m_wakePending || m_job.generation != m_generation; });
    m_sleeping = false;
    m_wakePending = false;
}

HRESULT COggFileReader::Init() {
    m_cStreams = m_pCore->StreamCount();
    m_streams = PlatAllocationRefused() ? nullptr : new (std::nothrow) StreamState[static_cast<size_t>(m_cStreams)];
    return m_streams ? S_OK : E_OUTOFMEMORY;
}

DWORD COggFileReader::WorkerMain() {
    COggDemuxer* core = m_pCore; // the thread's own reference, taken by the core when it started the thread
    for (;;) {
        ReaderJob job;
        const bool fresh = TakeJob(&job);
        if (job.kind == ReaderJob::Exit) break;
        if (fresh && job.kind == ReaderJob::Join) Join(job);
        else if (fresh) SetUp(job);
        if (!m_active || !Step()) WaitForWork();
    }
    core->Release(); // may destroy the core, and this reader with it: nothing of `this` is used after
    return 0;
}

void COggFileReader::SetUp(const ReaderJob& job) {
    m_run = job.run;
    m_active = job.kind == ReaderJob::Run;
    m_main.Reset(0);
    for (int32_t i = 0; i < m_cStreams; ++i) {
        StreamState& st = m_streams[i];
        st.from = 0;
        st.behind = false;
        st.cursor.Reset(0);
        st.taking = m_active && m_pCore->Stream(i)->TakesPages(m_run);
    }
    if (!m_active || job.start == 0) return;
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
            s->Positioned(m_run, MinTime, 0);
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
    s->Positioned(m_run, wanted, time);
    return true;
}

LONGLONG COggFileReader::MainPosition() const { return m_main.held.offset >= 0 ? m_main.held.offset : m_main.sync.Position(); }

bool COggFileReader::AnyWantsMore() {
    for (int32_t i = 0; i < m_cStreams; ++i) {
        const StreamState& st = m_streams[i];
        if (st.taking && !st.behind && m_pCore->Stream(i)->ReadAhead().WantsMore()) return true;
    }
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
    if (m_main.ended || !AnyWantsMore()) return false;
    return StepMain();
}

bool COggFileReader::StepMain() {
    OggPageView page;
    while (m_main.sync.Next(&page)) {
        if (DispatchMain(page) == Dispatch::Wait) {
            m_main.held = page;
            return true;
        }
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
        if (Hand(s, page, false) == Dispatch::Wait) {
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
    LONG size = kChunk;
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
    if (Superseded()) return false;
    if (FAILED(hr)) {
        *failure = hr;
        return true;
    }
    if (got < 0 || got > size) got = 0;
    cursor->sync.Wrote(static_cast<size_t>(got));
    // Nothing read is the end of the data; fewer bytes than asked are only what came so far.
    if (got == 0) cursor->atEnd = true;
    return true;
}

COggFileReader::Dispatch COggFileReader::DispatchMain(const OggPageView& page) {
    COggStream* s = m_pCore->StreamOfSerial(page.header.serial);
    if (!s) return Dispatch::Dropped;
    const StreamState& st = m_streams[s->Index()];
    if (!st.taking || st.behind || page.offset < st.from) return Dispatch::Dropped;
    return Hand(s, page, true);
}

// The page to its stream's read-ahead.
COggFileReader::Dispatch COggFileReader::Hand(COggStream* s, const OggPageView& page, bool mayFallBehind) {
    const LONGLONG granule = page.header.granule;
    LONGLONG time = -1;
    if (granule != -1) {
        const COggLogicalStream& l = s->Logical();
        const int32_t k = l.Chained() ? l.LinkOfSerial(page.header.serial) : 0;
        time = k < 0 ? -1 : l.InLinkOrSelf(k)->GranuleToTime(granule);
        if (time >= 0 && l.Chained()) time = SatAdd(time, m_pCore->Link(k).Shift(m_pCore->Origin()));
    }
    ogg_page og = AsOggPage(page);
    bool wake = false;
    const COggReadAhead::Add r = s->ReadAhead().Queue(m_run, og, granule == -1 ? nullptr : &time, &wake);
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
    if (consumer != IOggDemuxSink::Consumer::Idle) return Dispatch::Wait;
    if (m_pCore->Caps().seekable) {
        StreamState& st = m_streams[s->Index()];
        st.behind = true;
        st.cursor.Reset(page.offset); // it reads for itself from the first page it missed
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
        bool wake = false;
        m_pCore->Stream(i)->ReadAhead().EndData(m_run, cause, &wake);
        if (wake && sink) sink->DataReady(i, m_run);
    }
}
