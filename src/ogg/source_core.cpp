// Discovery: the open of a file, up to the presentation descriptor.
#include "source_core.h"

#include "page_scanner.h"

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
    auto** table = static_cast<COggStream**>(std::malloc(sizeof(COggStream*) * static_cast<size_t>(m_cOggStreams + 1)));
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

int32_t COggSourceCore::CountUndescribed() {
    CAutoLock lock(m_lock);
    int32_t n = 0;
    for (int32_t i = 0; i < m_cOggStreams; ++i)
        n += m_ppOggStreams[i]->m_selected && !m_ppOggStreams[i]->m_mediaType.HasMediaType();
    return n;
}

HRESULT COggSourceCore::DiscoveryScan(LONGLONG length, bool) {
    const int32_t limit = static_cast<int32_t>(length <= DiscoveryLimit ? length : DiscoveryLimit);
    ogg_sync_reset(&m_sync);
    m_llDiscovered = 0;
    for (int32_t offset = 0; limit > 0 && offset < limit; offset += DiscoveryChunk) {
        const int32_t n = limit - offset < DiscoveryChunk ? limit - offset : DiscoveryChunk;
        char* buffer = ogg_sync_buffer(&m_sync, n);
        if (!buffer || m_pReader->SyncRead(offset, n, reinterpret_cast<BYTE*>(buffer)) != S_OK)
            return MF_E_CANNOT_PARSE_BYTESTREAM;
        ogg_sync_wrote(&m_sync, n);
        m_llDiscovered = offset + n;
        ogg_page page;
        while (ogg_sync_pageout(&m_sync, &page) > 0) {
            uint32_t serial = static_cast<uint32_t>(ogg_page_serialno(&page));
            COggStream* stream = FindStream(serial);
            if (!stream) {
                HRESULT hr = AddStream(serial, &stream);
                if (FAILED(hr)) return hr;
            }
            stream->ParseHeaderPage(&page);
        }
        if (CountUndescribed() == 0) break;
    }
    m_llDiscovered -= m_sync.fill - m_sync.returned; // the first byte no page was taken from
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
        const char* text = s->m_pCodec ? s->m_pCodec->Comment("DIRECTX_DURATION") : nullptr;
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

HRESULT COggSourceCore::EndScan(int32_t* unknownEnds, LONGLONG* end) {
    for (LONGLONG pos = m_llFileLength;;) {
        LONGLONG start = pos - EndScanWindow > 0 ? pos - EndScanWindow : 0;
        int32_t n = static_cast<int32_t>(pos - start);
        ogg_sync_reset(&m_sync);
        char* buffer = ogg_sync_buffer(&m_sync, n);
        if (!buffer) return E_OUTOFMEMORY;
        HRESULT hr = m_pReader->SyncRead(start, n, reinterpret_cast<BYTE*>(buffer));
        if (FAILED(hr)) return hr;
        ogg_sync_wrote(&m_sync, n); // a short read leaves zero bytes behind, which are no page
        ogg_page page;
        for (int r; (r = ogg_sync_pageout(&m_sync, &page)) != 0;) {
            if (r < 0) continue;
            COggStream* s = FindStream(static_cast<uint32_t>(ogg_page_serialno(&page)));
            if (!s || s->m_codec == CODEC_UNKNOWN) continue;
            LONGLONG g = ogg_page_granulepos(&page);
            LONGLONG t = g == -1 ? -1 : s->GranuleToTime(g);
            if (t >= 0) NoteEndTime(s, t, unknownEnds, end);
        }
        if (*unknownEnds <= 0) return S_OK;
        pos -= EndScanStep;
        if (pos < 1) return S_OK;
    }
}

HRESULT COggSourceCore::Discover(IMFByteStream* byteStream, bool* shutDown) {
    *shutDown = false;
    m_pReader = new StreamReader(byteStream);
    if (!m_pReader) return E_OUTOFMEMORY; // no reader: the open fails before anything was found
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
        CAutoLock lock(m_lock);
        for (int32_t i = 0; i < m_cOggStreams; ++i) {
            COggStream* s = m_ppOggStreams[i];
            if (!s->m_selected) continue;
            hr = CreateMediaStream(s, s->m_serialNo);
            if (FAILED(hr)) return hr;
        }
    }
    FirstTimeScan();
    m_llFirstStart = MaxTime;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        s->m_endTimeKnown = FALSE;
        s->m_endTime = 0;
        if (s->m_startTime < m_llFirstStart) m_llFirstStart = s->m_startTime;
    }
    int32_t unknownEnds = m_cOggStreams;
    LONGLONG end = CommentDurations(&unknownEnds);
    if (unknownEnds > 0) {
        if (!lengthKnown || m_llFileLength >= UnknownLength) {
            end = UnknownLength;
        } else if (m_llFileLength > 0) {
            hr = EndScan(&unknownEnds, &end);
            if (FAILED(hr)) status = hr;
        }
    }
    SetReaderPositions(0);
    // One timeline: the duration and every position count from the origin, so a file cut or written with an
    // offset lasts its span and its first sample is at 0 (the end time alone was announced before, and seek
    // targets were offset by the first granule's time, the end of the first page, so that seeks landed late).
    m_llOrigin = Origin();
    if (end < UnknownLength) end -= m_llOrigin;
    m_rtStart = 0;
    if (m_bTimeFormatIsTime) m_rtStop = end;
    else TimeToFrames(end, &m_rtStop);
    m_llSpan = end;
    return status;
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

bool COggSourceCore::HasReader() {
    CAutoLock lock(m_csRead);
    return m_pReader != nullptr;
}

void COggSourceCore::ReleaseReader() {
    StreamReader* reader;
    {
        CAutoLock lock(m_csRead);
        reader = m_pReader;
        m_pReader = nullptr;
    }
    if (reader) reader->Release();
}
