// The page reader thread: reads ahead for one logical stream.
#include "stream_page_reader.h"

#include <cstdlib>
#include <cstring>

#include "ogg_stream.h"
#include "seek_search.h"
#include "source_core.h"

COggStreamReader::COggStreamReader(COggStream* owner) : m_pOwner(owner) {
    ogg_sync_init(&m_sync);
    SetThreadName("ogg reader");
}

COggStreamReader::~COggStreamReader() {
    // The owner has sent the exit request; the thread is waited for before the state it uses goes away.
    JoinThread();
    ogg_sync_clear(&m_sync);
}

void COggStreamReader::SetPosition(LONGLONG position) {
    CAutoLock lock(m_lock);
    m_llPosition = position;
    ogg_sync_reset(&m_sync);
}

LONGLONG COggStreamReader::Position() {
    CAutoLock lock(m_lock);
    return m_llPosition;
}

bool COggStreamReader::EndOfFile() { return m_bEndOfFile.load() != 0; }

DWORD COggStreamReader::WorkerMain() {
    CEvent* events[] = {RequestEvent(), &m_evWork};
    for (;;) {
        DWORD request = TakeRequest();
        switch (request) {
        case ReaderRun: {
            {
                CAutoLock lock(m_lock);
                ogg_sync_reset(&m_sync);
                m_evWork.Reset();
                m_bEndOfFile = 0;
            }
            Reply(S_OK);
            // The send event wins when both are signalled: a new request breaks into the reading.
            while (CEvent::WaitAny(events, 2) == 1) ReadStep();
            break;
        }
        case ReaderStop: Reply(S_OK); break;
        case ReaderExit: Reply(S_OK); return 0;
        default: Reply(static_cast<DWORD>(E_NOTIMPL)); break;
        }
    }
}

LONGLONG COggStreamReader::SkipForeignPages(ogg_sync_state* sync, uint32_t serial, const COggStream* chained) {
    for (;;) {
        if (!sync->data) return 0;
        const long avail = sync->fill - sync->returned;
        const unsigned char* p = sync->data + sync->returned;
        if (sync->headerbytes == 0) {
            if (avail < 27) return 0;
            if (std::memcmp(p, "OggS", 4) != 0) {
                sync->headerbytes = 0;
                sync->bodybytes = 0;
                return 0; // not at a page: ogg_sync_pageout resynchronises
            }
            if (avail < 27 + p[26]) return 0;
            sync->headerbytes = 27 + p[26];
            sync->bodybytes = 0;
            for (int i = 0; i < p[26]; ++i) sync->bodybytes += p[27 + i];
        }
        const uint32_t pageSerial = ReadLE32(p + 14);
        if (pageSerial == serial || (chained && chained->OwnsSerial(pageSerial))) return 0;
        const long total = sync->headerbytes + sync->bodybytes;
        if (total >= avail) {
            ogg_sync_clear(sync); // the rest of that page is skipped in the file, not read
            ogg_sync_init(sync);
            return total - avail;
        }
        sync->returned += total;
        sync->headerbytes = 0;
        sync->bodybytes = 0;
    }
}

// Reads of 64 KB: the readers of a file's streams share its byte stream (and its lock), and fewer, larger reads
// make them meet on it less often.
LONGLONG COggStreamReader::ReadSize() {
    constexpr LONGLONG kChunk = 65536;
    LONGLONG size = kChunk;
    LONGLONG length = m_pOwner->m_pSource->m_llFileLength;
    if (m_llPosition + size > length) size = length - m_llPosition;
    return size;
}

void COggStreamReader::ReadStep() {
    COggSourceCore* source = m_pOwner->m_pSource;
    bool failed = false;
    {
        CAutoLock lock(m_lock);
        m_llPosition += SkipForeignPages(&m_sync, m_pOwner->m_serialNo, m_pOwner->m_pChain ? m_pOwner : nullptr);
        ogg_page page;
        const int r = ogg_sync_pageout(&m_sync, &page);
        if (r > 0) {
            bool wake = false;
            if (m_pOwner->OwnsSerial(static_cast<uint32_t>(ogg_page_serialno(&page))) && m_pOwner->QueuePage(&page, &wake))
                m_evWork.Reset();
            if (wake) m_pOwner->m_evData.Set();
            return;
        }
        if (r < 0) return; // bytes that are no page were passed over: the pages after them may be held already
        // Without the byte stream (shut down) there is nothing to read: the reader sleeps rather than spin.
        if (!source->HasReader() || m_llPosition >= source->m_llFileLength) {
            m_bEndOfFile = 1;
        } else {
            LONGLONG size = ReadSize();
            char* buffer = ogg_sync_buffer(&m_sync, static_cast<long>(size));
            HRESULT hr = E_OUTOFMEMORY;
            if (buffer) hr = source->LockedRead(m_llPosition, static_cast<LONG>(size), reinterpret_cast<BYTE*>(buffer));
            if (hr == S_OK) {
                ogg_sync_wrote(&m_sync, static_cast<long>(size));
                m_llPosition += size;
                return;
            }
            m_bEndOfFile = 1;
            failed = true;
        }
    }
    if (failed) {
        source->SetFileEnded(true);
        source->OnReadFailure();
    }
    EndOfData();
}

void COggStreamReader::EndOfData() {
    {
        CAutoLock lock(m_pOwner->m_csStarved);
        m_pOwner->m_bStarved = FALSE;
    }
    m_evWork.Reset(); // before production is woken: what it asks for then must not be lost
    m_pOwner->m_evData.Set();
}

HRESULT COggStreamReader::FindPagePosition(CSeekSearch* search, COggStream* record, LONGLONG target, LONGLONG limit,
                                           LONGLONG* time, LONGLONG* firstWanted) {
    COggSourceCore* source = m_pOwner->m_pSource;
    // The duration takes the source lock: read it before the reader's lock, which comes after it.
    LONGLONG duration = 0;
    if (target != 0 && target >= limit) source->GetDuration(&duration);
    CAutoLock lock(m_lock);
    LONGLONG position = 0, found = 0, wanted = MinTime;
    if (target == 0) {
        position = search->Begin();
        found = 0;
    } else if (target >= limit) {
        position = source->m_llFileLength;
        found = duration;
    } else if (m_seekCache.valid && m_seekCache.target == target && m_seekCache.record == record) {
        position = m_seekCache.position;
        found = m_seekCache.time;
        wanted = m_seekCache.firstWanted;
    } else {
        if (!source->HasReader()) return E_FAIL;
        HRESULT hr = search->Position(record, target, limit, &position, &found, &wanted);
        if (FAILED(hr)) return hr;
        m_seekCache = SeekCache{TRUE, record, position, target, found, wanted};
    }
    m_bEndOfFile = 0;
    ogg_sync_reset(&m_sync);
    m_llPosition = position;
    *time = found;
    *firstWanted = wanted;
    return S_OK;
}
