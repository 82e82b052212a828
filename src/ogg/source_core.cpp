// Discovery: the open of a file, up to the presentation descriptor.
#include "source_core.h"

#include "page_scanner.h"
#include "support/alloc.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

COggSourceCore::COggSourceCore() { ogg_sync_init(&m_sync); }

COggSourceCore::~COggSourceCore() {
    FreeStreams();
    ogg_sync_clear(&m_sync);
    ReleaseReader();
}

void COggSourceCore::FreeStreams() {
    for (int32_t i = 0; i < m_cOggStreams; ++i) delete m_ppOggStreams[i];
    std::free(m_ppOggStreams);
    m_ppOggStreams = nullptr;
    m_cOggStreams = 0;
    FreeLinks();
}

COggStream* COggSourceCore::FindStream(uint32_t serial) {
    for (int32_t i = 0; i < m_cOggStreams; ++i)
        if (m_ppOggStreams[i]->m_serialNo == serial) return m_ppOggStreams[i];
    return nullptr;
}

HRESULT COggSourceCore::AddStream(uint32_t serial, COggStream** out) {
    CAutoLock lock(m_lock);
    COggStream* stream = new COggStream(serial, this);
    if (!stream) return E_OUTOFMEMORY; // a record that cannot be allocated fails the open like the table
    auto** table = static_cast<COggStream**>(AllocBytes(sizeof(COggStream*) * static_cast<size_t>(m_cOggStreams + 1)));
    if (!table) {
        delete stream;
        return E_OUTOFMEMORY;
    }
    for (int32_t i = 0; i < m_cOggStreams; ++i) table[i] = m_ppOggStreams[i];
    std::free(m_ppOggStreams);
    m_ppOggStreams = table;
    m_ppOggStreams[m_cOggStreams++] = stream;
    *out = stream;
    return S_OK;
}

// Discovery waits for the media streams whose type is still unknown, and for streams whose first packet has not
// been read yet; not for a stream that is known not to be media (a Skeleton, Kate) or not to be understood,
// which would have made discovery read its whole window for nothing.
int32_t COggSourceCore::CountUndescribed() {
    CAutoLock lock(m_lock);
    int32_t n = 0;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        const COggStream* s = m_ppOggStreams[i];
        n += s->m_selected && !s->m_mediaType.HasMediaType() && (s->m_pCodec ? s->m_pCodec->IsMedia() : !s->m_bIdentified);
    }
    return n;
}

HRESULT COggSourceCore::DiscoveryScan(LONGLONG length, bool) {
    const int32_t limit = static_cast<int32_t>(length <= DiscoveryLimit ? length : DiscoveryLimit);
    ogg_sync_reset(&m_sync);
    m_llDiscovered = 0;
    bool dataSeen = false;  // a page that begins no stream: the link's beginning-of-stream pages are over
    long nextLink = 0;      // the bytes of a page that begins the next link (a chained file), not taken
    for (int32_t offset = 0; limit > 0 && offset < limit && !nextLink; offset += DiscoveryChunk) {
        const int32_t n = limit - offset < DiscoveryChunk ? limit - offset : DiscoveryChunk;
        char* buffer = ogg_sync_buffer(&m_sync, n);
        if (!buffer || m_pReader->SyncRead(offset, n, reinterpret_cast<BYTE*>(buffer)) != S_OK)
            return MF_E_CANNOT_PARSE_BYTESTREAM;
        ogg_sync_wrote(&m_sync, n);
        m_llDiscovered = offset + n;
        ogg_page page;
        // Bytes that are no page (an ID3 tag, a partial page before the first) are passed over: a result of -1
        // only says that some were skipped, and the pages after them follow in the same chunk.
        for (int r; !nextLink && (r = ogg_sync_pageout(&m_sync, &page)) != 0;) {
            if (r < 0) continue;
            uint32_t serial = static_cast<uint32_t>(ogg_page_serialno(&page));
            COggStream* stream = FindStream(serial);
            if (!stream && dataSeen && ogg_page_bos(&page)) {
                nextLink = page.header_len + page.body_len;
                break;
            }
            dataSeen = dataSeen || !ogg_page_bos(&page);
            if (!stream) {
                HRESULT hr = AddStream(serial, &stream);
                if (FAILED(hr)) return hr;
            }
            stream->ParseHeaderPage(&page);
        }
        if (m_cOggStreams > 0 && CountUndescribed() == 0) break; // junk ahead of the first page reads on

    }
    m_llDiscovered -= m_sync.fill - m_sync.returned + nextLink; // the first byte no page was taken from
    return S_OK;
}

// Media streams whose first timed data packet lies beyond the discovery window (a file written with an offset
// whose video pages are large, say) need it for the origin: their pages are looked for from where discovery
// stopped, header to header, the other streams' bodies not read.
void COggSourceCore::FirstTimeScan() {
    auto pending = [this] {
        for (int32_t i = 0; i < m_cOggStreams; ++i)
            if (m_ppOggStreams[i]->m_mediaType.HasMediaType() && (m_ppOggStreams[i]->m_headerFlags & START_TIME_PENDING))
                return true;
        return false;
    };
    if (!pending() || m_llFileLength >= UnknownLength) return;
    const LONGLONG limit = m_llFileLength - m_llDiscovered > kFirstTimeSpan ? m_llDiscovered + kFirstTimeSpan : m_llFileLength;
    CPageScanner scan(this, m_llFileLength);
    PageInfo page;
    for (bool more = scan.SyncAt(m_llDiscovered, limit, &page); more && pending(); more = scan.Next(page, limit, &page)) {
        COggStream* s = FindStream(page.serial);
        ogg_page og;
        if (s && s->m_mediaType.HasMediaType() && (s->m_headerFlags & START_TIME_PENDING) && scan.Whole(page, &og))
            s->ParseHeaderPage(&og);
    }
}

LONGLONG COggSourceCore::CommentDurations(int32_t* unknownEnds) {
    LONGLONG end = 0;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        const char* text = s->IsMediaStream() ? s->m_pCodec->Comment("DIRECTX_DURATION") : nullptr;
        if (!text) continue;
        int64_t v = 0;
        std::sscanf(text, "%" SCNi64, &v); // scanf's %i: sign, decimal, 0x hexadecimal or 0 octal
        if (v < 0 || v > UnknownLength - 1) continue;
        NoteEndTime(s, v, unknownEnds, &end);
    }
    return end;
}

void COggSourceCore::NoteEndTime(COggStream* s, LONGLONG t, int32_t* unknownEnds, LONGLONG* end) {
    if (!s->m_endTimeKnown) {
        --*unknownEnds;
        s->m_endTime = t;
        s->m_endTimeKnown = TRUE;
    } else if (t > s->m_endTime) {
        s->m_endTime = t;
    }
    if (t > *end) *end = t;
}

HRESULT COggSourceCore::EndScan(int32_t link, LONGLONG from, LONGLONG to, int32_t* unknownEnds, LONGLONG* end,
                                int64_t* tail) {
    for (LONGLONG pos = to;;) {
        LONGLONG start = pos - EndScanWindow > from ? pos - EndScanWindow : from;
        int32_t n = static_cast<int32_t>(pos - start);
        ogg_sync_reset(&m_sync);
        char* buffer = ogg_sync_buffer(&m_sync, n);
        if (!buffer) return E_OUTOFMEMORY;
        LONG got = 0;
        HRESULT hr = m_pReader->SyncReadCount(start, n, reinterpret_cast<BYTE*>(buffer), &got);
        if (FAILED(hr)) return hr;
        // Only what was read: after a short read the rest of the buffer holds an earlier window's bytes.
        ogg_sync_wrote(&m_sync, got);
        ogg_page page;
        for (int r; (r = ogg_sync_pageout(&m_sync, &page)) != 0;) {
            if (r < 0) continue;
            if (tail && pos == to) *tail = static_cast<uint32_t>(ogg_page_serialno(&page));
            COggStream* s = LinkStream(static_cast<uint32_t>(ogg_page_serialno(&page)), link);
            if (!s || !s->IsMediaStream()) continue;
            LONGLONG g = ogg_page_granulepos(&page);
            LONGLONG t = g == -1 ? -1 : s->GranuleToTime(g);
            if (t >= 0) NoteEndTime(s, t, unknownEnds, end);
        }
        // A last page of another link (a chain) stops the scan: that link's pages would all be read for nothing.
        const bool foreignTail = tail && pos == to && *tail >= 0 && !LinkStream(static_cast<uint32_t>(*tail), link);
        if (*unknownEnds <= 0 || start == from || foreignTail) return S_OK;
        pos -= EndScanStep;
        if (pos <= from) return S_OK;
    }
}

HRESULT COggSourceCore::Discover(IMFByteStream* byteStream, bool* shutDown) {
    *shutDown = false;
    m_pReader = new StreamReader(byteStream);
    if (!m_pReader) return E_OUTOFMEMORY; // no reader: the open fails before anything was found
    m_bHasReader = true;
    LONGLONG available = 0;
    HRESULT status = m_pReader->Length(&m_llFileLength, &available);
    const bool lengthKnown = status == S_OK;
    if (!lengthKnown) m_llFileLength = UnknownLength;

    HRESULT hr = DiscoveryScan(m_llFileLength, lengthKnown);
    if (FAILED(hr)) return hr;
    if (m_cOggStreams == 0) return MF_E_CANNOT_PARSE_BYTESTREAM;
    status = S_OK; // a stream was found
    m_state = SourceOpening;
    for (int32_t i = 0; i < m_cOggStreams; ++i) m_ppOggStreams[i]->m_selected = 1;

    *shutDown = true;
    {
        // A stream with a media type gets a media stream; one that is not media (a Skeleton, Kate), not
        // understood, or without its headers gets none and is read by nothing.
        CAutoLock lock(m_lock);
        for (int32_t i = 0; i < m_cOggStreams; ++i) {
            COggStream* s = m_ppOggStreams[i];
            if (!s->m_selected || !s->IsMediaStream()) continue;
            hr = CreateMediaStream(s, s->m_serialNo);
            if (FAILED(hr)) return hr;
        }
        if (MediaStreamCount() == 0) return MF_E_INVALID_FILE_FORMAT; // an Ogg file, but nothing in it can be played
    }
    FirstTimeScan();
    m_llFirstStart = MaxTime;
    for (int32_t i = 0; i < m_cOggStreams; ++i)
        if (m_ppOggStreams[i]->m_startTime < m_llFirstStart) m_llFirstStart = m_ppOggStreams[i]->m_startTime;
    hr = InitLinks();
    if (FAILED(hr)) return hr;
    LONGLONG end = 0;
    hr = EndTimes(lengthKnown, &end);
    if (hr == E_OUTOFMEMORY) return hr;
    if (FAILED(hr)) status = hr;
    SetReaderPositions(0);
    // One timeline: the duration and every position count from the origin, so a file cut or written with an
    // offset lasts its span and its first sample is at 0 (the end time alone was announced before, and seek
    // targets were offset by the first granule's time, the end of the first page, so that seeks landed late).
    m_llOrigin = Origin();
    if (end < UnknownLength) end = end > m_llOrigin ? end - m_llOrigin : 0;
    if (m_cLinks > 1 && end < UnknownLength) {
        // A chain lasts as long as its links together: each link's end is found within it.
        hr = TimeLinks(end);
        if (FAILED(hr)) return hr;
        end = SatAdd(m_pLinks[m_cLinks - 1].start, m_pLinks[m_cLinks - 1].duration);
    }
    m_rtStart = 0;
    if (m_bTimeFormatIsTime) m_rtStop = end;
    else TimeToFrames(end, &m_rtStop);
    m_llSpan = end;
    return status;
}

// The media streams' end times and the latest of them. The end scan looks for the media streams only: a Skeleton
// track's end (or any other stream's) is waited for by nothing, so a file with one is read no further than the
// same file without it. A file whose last page is of no stream of the first link is a chain: its links are found,
// and the first link's ends looked for within it.
HRESULT COggSourceCore::EndTimes(bool lengthKnown, LONGLONG* end) {
    for (int pass = 0;; ++pass) {
        for (int32_t i = 0; i < m_cOggStreams; ++i) {
            m_ppOggStreams[i]->m_endTimeKnown = FALSE;
            m_ppOggStreams[i]->m_endTime = 0;
        }
        int32_t unknownEnds = 0;
        for (int32_t i = 0; i < m_cOggStreams; ++i) unknownEnds += m_ppOggStreams[i]->IsMediaStream();
        *end = CommentDurations(&unknownEnds);
        if (unknownEnds <= 0) return S_OK;
        if (!lengthKnown || m_llFileLength >= UnknownLength) {
            *end = UnknownLength;
            return S_OK;
        }
        if (m_llFileLength <= 0) return S_OK;
        int64_t tail = -1;
        HRESULT hr = EndScan(0, 0, m_pLinks[0].end, &unknownEnds, end, pass == 0 ? &tail : nullptr);
        if (FAILED(hr) || pass > 0 || tail < 0 || FindStream(static_cast<uint32_t>(tail))) return hr;
        hr = FindLinks();
        if (FAILED(hr) || m_cLinks == 1) return hr;
    }
}

LONGLONG COggSourceCore::Origin() const {
    LONGLONG origin = MaxTime;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        const COggStream* s = m_ppOggStreams[i];
        if (s->m_mediaType.HasMediaType() && s->FirstTimeKnown() && s->m_firstTime < origin) origin = s->m_firstTime;
    }
    return origin == MaxTime || origin < 0 ? 0 : origin; // below zero counts as zero
}

void COggSourceCore::SetReaderPositions(LONGLONG position) {
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        m_ppOggStreams[i]->m_reader.SetPosition(position);
        m_ppOggStreams[i]->m_llFirstWanted = MinTime;
    }
}

void COggSourceCore::SetFileEnded(bool ended) {
    CAutoLock lock(m_csFileEnded);
    m_bFileEnded = ended;
}

bool COggSourceCore::FileEnded() {
    CAutoLock lock(m_csFileEnded);
    return m_bFileEnded != FALSE;
}

HRESULT COggSourceCore::LockedRead(LONGLONG position, LONG length, BYTE* buffer) {
    CAutoLock lock(m_csRead);
    return m_pReader ? m_pReader->SyncRead(position, length, buffer) : E_FAIL;
}

// Without the read lock: a reader thread asks at every step, and a read it then tries is refused under the lock
// once the reader is gone.
bool COggSourceCore::HasReader() { return m_bHasReader.load(); }

void COggSourceCore::ReleaseReader() {
    StreamReader* reader;
    {
        CAutoLock lock(m_csRead);
        reader = m_pReader;
        m_pReader = nullptr;
        m_bHasReader = false;
    }
    if (reader) reader->Release();
}
