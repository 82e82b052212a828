// The bisection that turns a time into the byte position of a page to start reading from.
#include "ogg_stream.h"
#include "source_core.h"
#include "support/trace.h"

namespace {
// A complete packet starting on the page (a continued packet's tail does not count) is a Theora key
// frame: a data packet (bit 7 clear) whose bit 6 is clear. Read from the lacing values, so that a key
// frame whose packet goes on to the next page counts too.
bool PageHasTheoraKeyFrame(const ogg_page* page) {
    const int segments = page->header[26];
    const unsigned char* lacing = page->header + 27;
    long offset = 0;
    int i = 0;
    if (ogg_page_continued(page)) { // skip the tail of the packet begun on an earlier page
        while (i < segments && lacing[i] == 255) offset += lacing[i++];
        if (i < segments) offset += lacing[i++];
    }
    while (i < segments) {
        if (lacing[i] > 0 && offset < page->body_len) {
            unsigned char b = page->body[offset];
            if (!(b & 0x80) && !(b & 0x40)) return true;
        }
        while (i < segments && lacing[i] == 255) offset += lacing[i++];
        if (i < segments) offset += lacing[i++];
    }
    return false;
}
} // namespace

// Bit 0: a packet starts on the page; bit 1: it has a granule position; bit 2: it holds a key frame.
int COggStreamReader::PageFlags(ogg_page* page) {
    switch (m_pOwner->m_codec) {
    case CODEC_VORBIS: return 7;
    case CODEC_THEORA: return PageHasTheoraKeyFrame(page) ? 7 : 0;
    default: break;
    }
    if (ogg_page_bos(page)) return 0;
    int flags = ogg_page_granulepos(page) != -1 ? 2 : 0;
    if (ogg_page_continued(page)) return flags;
    flags |= 1;
    if (page->body_len < 1) return flags;
    const unsigned char b = page->body[0];
    if (b & 1) return flags;
    const int n = (b >> 6) | ((b & 2) << 1);
    if (n > 0) {
        if (page->body_len < 1 + n) return flags; // the length bytes are not all on the page
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(page->body[1 + i]) << (8 * (i & 3));
        if (static_cast<int32_t>(v) < 0) return flags;
    }
    if (!m_pOwner->m_mediaType.bTemporalCompression || (b & 8)) flags |= 4;
    return flags;
}

HRESULT COggStreamReader::FindPagePosition(LONGLONG target, LONGLONG limit, LONGLONG* time) {
    COggSourceCore* source = m_pOwner->m_pSource;
    // The duration takes the source lock: read it before the reader's lock, which comes after it.
    LONGLONG duration = 0;
    if (target != 0 && target >= limit) source->GetDuration(&duration);
    CAutoLock lock(m_lock);
    LONGLONG position = 0, found = 0;
    if (target == 0) {
        position = 0;
        found = 0;
    } else if (target >= limit) {
        position = source->m_llFileLength;
        found = duration;
    } else if (m_seekCache.valid && m_seekCache.target == target) {
        position = m_seekCache.position;
        found = m_seekCache.time;
    } else {
        if (!source->HasReader()) return E_FAIL;
        Bisect(target, &position, &found);
        m_seekCache = SeekCache{TRUE, position, target, found};
    }
    m_bEndOfFile = 0;
    ogg_sync_reset(&m_sync);
    m_llPosition = position;
    *time = found;
    return S_OK;
}

void COggStreamReader::Bisect(LONGLONG target, LONGLONG* bestPosition, LONGLONG* bestTime) {
    COggSourceCore* source = m_pOwner->m_pSource;
    LONGLONG lo = 0, hi = source->m_llFileLength, mid = hi / 2;
    *bestPosition = 0;
    *bestTime = 0;
    while (mid > lo + 27) {
        ogg_sync_reset(&m_sync);
        LONGLONG p = mid, bufferOffset = mid, pageStart = -1;
        bool key = false;
        for (;;) {
            p += SkipForeignPages(&m_sync, m_pOwner->m_serialNo);
            ogg_page page;
            int r = ogg_sync_pageout(&m_sync, &page);
            if (r < 0) continue; // bytes skipped: look again
            if (r == 0) {
                if (p >= hi) {
                    hi = mid;
                    break;
                }
                LONGLONG pending = m_sync.headerbytes + m_sync.bodybytes;
                LONGLONG size = (pending > 4096 ? pending : 4096) - (m_sync.fill - m_sync.returned);
                if (size <= 0) size = 4096;
                if (p + size > hi) size = hi - p;
                char* buffer = ogg_sync_buffer(&m_sync, static_cast<long>(size));
                bufferOffset = p - m_sync.fill;
                if (!buffer || source->LockedRead(p, static_cast<LONG>(size), reinterpret_cast<BYTE*>(buffer)) != S_OK) {
                    hi = mid; // a failing read counts as the upper bound
                    break;
                }
                ogg_sync_wrote(&m_sync, static_cast<long>(size));
                p += size;
                continue;
            }
            if (static_cast<uint32_t>(ogg_page_serialno(&page)) != m_pOwner->m_serialNo) continue;
            const int flags = PageFlags(&page);
            if (flags & 1) {
                pageStart = bufferOffset + m_sync.returned - (page.header_len + page.body_len);
                Trace("\nStartPage(%08x)", static_cast<unsigned>(pageStart));
            }
            if (flags & 4) key = true;
            const LONGLONG g = ogg_page_granulepos(&page);
            if (g == -1) continue;
            const LONGLONG t = m_pOwner->GranuleToTime(g);
            if (t < target) {
                if (!key) continue;
                *bestPosition = pageStart;
                *bestTime = t;
                lo = pageStart;
                break;
            }
            if (t == target && key) {
                *bestPosition = pageStart;
                *bestTime = t;
                lo = hi = mid;
                break;
            }
            hi = mid;
            break;
        }
        ogg_sync_reset(&m_sync);
        mid = (lo + hi) / 2;
    }
}
