// The search behind a seek (seek_search.h).
#include "seek_search.h"

#include "ogg_stream.h"
#include "source_core.h"
#include "support/trace.h"

namespace {
constexpr LONGLONG kConverge = 64 << 10;    // below this the search walks on page by page
constexpr LONGLONG kWalkPages = 32;          // ...or below this many pages
constexpr LONGLONG kWalkSpan = 64LL << 20;  // what a walk may cover at most
constexpr LONGLONG kSkew = 50000000;        // 5 s: a page of another stream this far after the target decides a probe
constexpr LONGLONG kFirstWindow = 256 << 10; // the first window of a backward search for a key frame
constexpr LONGLONG kBackSpan = 32LL << 20;   // how far back a key frame is looked for

struct Ref {
    LONGLONG pos;
    LONGLONG time;
};

// The next probe: by time, between what is known below and above the target, a page early so that the probe
// lands before it; a halving when guesses made poor progress, so that an uneven file cannot slow the search
// down much.
LONGLONG NextProbe(LONGLONG lo, LONGLONG hi, const Ref& below, const Ref& above, LONGLONG target, LONGLONG page,
                   bool interpolate) {
    const LONGLONG range = hi - lo;
    if (!interpolate || above.time <= below.time || target < below.time || target > above.time) return lo + range / 2;
    const double f = static_cast<double>(target - below.time) / static_cast<double>(above.time - below.time);
    LONGLONG mid = below.pos + static_cast<LONGLONG>(f * static_cast<double>(above.pos - below.pos)) - page;
    if (mid < lo) mid = lo;
    if (mid > hi - range / 16) mid = hi - range / 16;
    return mid;
}
} // namespace

CSeekSearch::CSeekSearch(COggSourceCore* source) : m_pSource(source), m_scan(source, source->m_llFileLength) {}

bool CSeekSearch::IsBefore(const COggStream* s, const Before& b, LONGLONG granule) const {
    if (b.frame >= 0) {
        const LONGLONG f = s->m_pCodec->FrameOfGranule(granule);
        return f >= 0 && f < b.frame;
    }
    const LONGLONG t = s->GranuleToTime(granule);
    return t >= 0 && t <= b.time;
}

// From `from`, the first own page with a usable granule before hi. A page of another media stream far after
// the target answers too (found.pos -1, not before): streams are interleaved by time, so the stream's own
// pages beyond it are after the target as well. False: no answer before hi.
bool CSeekSearch::Probe(COggStream* s, const Before& b, LONGLONG from, LONGLONG hi, PageInfo* found, bool* before) {
    PageInfo p;
    for (bool more = m_scan.SyncAt(from, hi, &p); more && p.pos < hi; more = m_scan.Next(p, hi, &p)) {
        m_pageSize = (m_pageSize * 7 + (p.End() - p.pos)) / 8; // the file's pages, on average
        if (p.granule == -1) continue;
        if (p.serial == s->m_serialNo) {
            if (s->GranuleToTime(p.granule) < 0) continue;
            *found = p;
            *before = IsBefore(s, b, p.granule);
            return true;
        }
        const COggStream* other = m_pSource->FindStream(p.serial);
        if (other && other->m_pCodec && other->m_mediaType.HasMediaType() && other->GranuleToTime(p.granule) > b.time + kSkew) {
            found->pos = -1;
            *before = false;
            return true;
        }
    }
    return false;
}

// Page by page from `from` (a page boundary): every own timed page before becomes best, the first that is not
// is next.
void CSeekSearch::WalkOn(COggStream* s, const Before& b, LONGLONG from, PageInfo* best, PageInfo* next) {
    next->pos = -1;
    const LONGLONG limit = from + kWalkSpan < m_scan.Length() ? from + kWalkSpan : m_scan.Length();
    PageInfo p;
    for (bool more = m_scan.SyncAt(from, limit, &p); more; more = m_scan.Next(p, limit, &p)) {
        if (p.serial != s->m_serialNo || p.granule == -1 || s->GranuleToTime(p.granule) < 0) continue;
        if (!IsBefore(s, b, p.granule)) {
            *next = p;
            return;
        }
        *best = p;
    }
}

bool CSeekSearch::LastPageBefore(COggStream* s, const Before& b, LONGLONG hiPos, LONGLONG hiTime, PageInfo* best,
                                 PageInfo* next) {
    best->pos = -1;
    LONGLONG lo = 0, hi = hiPos;
    Ref below{0, s->FirstTimeKnown() ? s->m_firstTime : 0}, above{hiPos, hiTime};
    const LONGLONG target = b.frame >= 0 ? b.frame * s->FrameDuration() : b.time;
    int poor = 0;
    // Probes until the range holds few pages; then the walk, header to header, is cheaper than another probe
    // (which reads half a page on average to find where the next one starts).
    while (hi - lo > kConverge && hi - lo > kWalkPages * m_pageSize) {
        const LONGLONG range = hi - lo;
        const LONGLONG mid = NextProbe(lo, hi, below, above, target, m_pageSize, poor < 2);
        PageInfo found;
        bool isBefore = false;
        if (Probe(s, b, mid, hi, &found, &isBefore) && isBefore) {
            *best = found;
            lo = found.End();
            below = Ref{found.pos, s->GranuleToTime(found.granule)};
        } else {
            hi = mid;
            if (found.pos >= 0 && found.serial == s->m_serialNo) above = Ref{found.pos, s->GranuleToTime(found.granule)};
        }
        poor = hi - lo > range / 2 ? poor + 1 : 0;
    }
    WalkOn(s, b, best->pos >= 0 ? best->End() : lo, best, next);
    return best->pos >= 0;
}

void CSeekSearch::PacketStarts(const PageInfo& page, Starts* out) {
    out->n = 0;
    int i = 0;
    LONGLONG offset = 0;
    if (page.Continued()) { // the tail of a packet begun before
        while (i < page.segments && page.lacing[i] == 255) offset += page.lacing[i++];
        if (i < page.segments) offset += page.lacing[i++];
    }
    while (i < page.segments && out->n < 255) {
        const LONGLONG at = page.pos + page.HeaderLen() + offset, begin = offset;
        while (i < page.segments && page.lacing[i] == 255) offset += page.lacing[i++];
        if (i < page.segments) offset += page.lacing[i++];
        BYTE b = 0xFF; // an empty packet: no first byte (read as a header, never a key frame)
        if (offset > begin && !m_scan.Bytes(at, 1, &b)) b = 0xFF;
        out->first[out->n] = b;
        out->at[out->n] = at;
        out->size[out->n++] = offset - begin;
    }
}

void CSeekSearch::StartGranules(COggStream* s, const PageInfo& page, const Starts& st, LONGLONG* granules) {
    for (int k = 0; k < st.n; ++k) granules[k] = -1;
    const int open = page.EndsInsidePacket() ? 1 : 0, done = st.n - open; // begun here and completed here
    auto units = [&](int k) {
        BYTE head[8] = {};
        const LONGLONG len = st.size[k] < 8 ? st.size[k] : 8;
        return m_scan.Bytes(st.at[k], len, head) ? s->m_pCodec->Units(head, static_cast<long>(len)) : -1;
    };
    if (page.granule == -1) return;
    if (done > 0) { // the last completed packet carries the page's granule; the others go back from it
        granules[done - 1] = page.granule;
        for (int k = done - 1; k > 0; --k) {
            const int64_t u = units(k - 1);
            if (u < 0) break;
            granules[k - 1] = granules[k] - u;
        }
        if (open) {
            const int64_t u = units(done - 1);
            if (u >= 0) granules[st.n - 1] = page.granule + u;
        }
    }
}

// The key frame of the frame at the target: the next timed page's granule names its own key frame, which is
// the one when it is not after the target frame; otherwise a key frame may begin between the two pages, and
// the packets that begin there are looked at.
LONGLONG CSeekSearch::TheoraKeyFrame(COggStream* s, LONGLONG target, const PageInfo& best, const PageInfo& next) {
    const COggCodec* codec = s->m_pCodec;
    const LONGLONG d = static_cast<uint32_t>(codec->FrameDuration());
    const LONGLONG frame = d > 0 ? target / d : 0;
    LONGLONG key = codec->KeyFrameOfGranule(best.granule);
    if (next.pos < 0) return key;
    const LONGLONG nextKey = codec->KeyFrameOfGranule(next.granule);
    if (nextKey >= 0 && nextKey <= frame) return nextKey;
    LONGLONG f = codec->FrameOfGranule(best.granule) + 1;
    Starts st;
    PageInfo p = best;
    for (bool first = true; f <= frame; first = false) {
        PacketStarts(p, &st);
        int k = first ? st.n - (best.EndsInsidePacket() ? 1 : 0) : 0; // on the page found, only the packet it leaves open
        for (; k < st.n && f <= frame; ++k, ++f)
            if (!(st.first[k] & 0x80) && !(st.first[k] & 0x40)) key = f; // a data packet with bit 6 clear: a key frame
        if (p.pos == next.pos) break;
        do {
            if (!m_scan.Next(p, m_scan.Length(), &p)) return key;
        } while (p.serial != s->m_serialNo);
    }
    return key;
}

// The page on which the last key frame at or before the target begins: on the target's own page (a packet that
// begins there and starts in time), else in windows further back. *keyStart: that key frame's start granule,
// -1 when it cannot be told.
LONGLONG CSeekSearch::OgmKeyPage(COggStream* s, LONGLONG target, const PageInfo& best, LONGLONG* keyStart) {
    auto isKey = [](BYTE b) { return !(b & 1) && (b & 8); };
    Starts st;
    LONGLONG granules[255];
    PacketStarts(best, &st);
    StartGranules(s, best, st, granules);
    const int open = best.EndsInsidePacket() ? 1 : 0;
    for (int k = st.n - 1; k >= 0; --k) {
        // The packet left open starts after the page's time: only when that is known to be in time.
        if (k == st.n - 1 && open && (granules[k] < 0 || s->GranuleToTime(granules[k]) > target)) continue;
        if (isKey(st.first[k])) {
            *keyStart = granules[k];
            return best.pos;
        }
    }
    LONGLONG end = best.pos, window = kFirstWindow;
    while (end > 0 && best.pos - end < kBackSpan) {
        const LONGLONG start = end > window ? end - window : 0;
        PageInfo p, found;
        int foundAt = -1;
        for (bool more = m_scan.SyncAt(start, end, &p); more && p.pos < end; more = m_scan.Next(p, end, &p)) {
            if (p.serial != s->m_serialNo) continue;
            PacketStarts(p, &st);
            for (int k = 0; k < st.n; ++k)
                if (isKey(st.first[k])) {
                    found = p;
                    foundAt = k;
                }
        }
        if (foundAt >= 0) {
            PacketStarts(found, &st);
            StartGranules(s, found, st, granules);
            *keyStart = granules[foundAt];
            return found.pos;
        }
        end = start;
        window *= 2;
    }
    return best.pos; // none within reach: reading starts here and the video waits for its next key frame
}

HRESULT CSeekSearch::Position(COggStream* s, LONGLONG target, LONGLONG, LONGLONG* position, LONGLONG* time,
                              LONGLONG* firstWanted) {
    *position = 0;
    *time = 0;
    *firstWanted = MinTime;
    if (!s->m_pCodec || !s->m_mediaType.HasMediaType()) return S_OK; // nothing of it is ever read
    Before b;
    b.time = target;
    PageInfo best, next;
    if (!LastPageBefore(s, b, m_scan.Length(), s->m_endTimeKnown ? s->m_endTime : 0, &best, &next))
        return S_OK; // nothing before: from the start
    *position = best.pos;
    *time = s->GranuleToTime(best.granule);
    if (next.pos < 0 && !s->OgmType()) {
        // The stream ended at or before the target: nothing of it is left to play.
        *position = m_scan.Length();
        return S_OK;
    }
    if (!s->m_mediaType.bTemporalCompression) return S_OK;
    if (s->m_pCodec->KeyFrameOfGranule(best.granule) >= 0) {
        Before k;
        k.time = target;
        k.frame = TheoraKeyFrame(s, target, best, next);
        PageInfo q, after;
        if (k.frame >= 0) {
            *position = LastPageBefore(s, k, best.End(), *time, &q, &after) ? q.pos : 0;
            *firstWanted = k.frame * static_cast<uint32_t>(s->m_pCodec->FrameDuration());
        }
    } else {
        LONGLONG key = -1;
        *position = OgmKeyPage(s, target, best, &key);
        LONGLONG start = 0, end = 0;
        if (key >= 0 && s->m_pCodec->PacketTimes(key, 0, &start, &end) == COggCodec::Time::Timed) *firstWanted = start;
    }
    Trace("\nStartPage(%08x)", static_cast<unsigned>(*position));
    return S_OK;
}
