// The search behind a seek (seek_search.h).
#include "seek_search.h"

#include "ogg_demuxer.h"
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
    // Differences in double: times from a hostile file may span more than the 64-bit range.
    const double f = (static_cast<double>(target) - static_cast<double>(below.time)) /
                     (static_cast<double>(above.time) - static_cast<double>(below.time));
    LONGLONG mid = below.pos + static_cast<LONGLONG>(f * static_cast<double>(above.pos - below.pos)) - page;
    if (mid < lo) mid = lo;
    if (mid > hi - range / 16) mid = hi - range / 16;
    return mid;
}
} // namespace

CSeekSearch::CSeekSearch(COggDemuxer* core, IReadCancel* cancel)
    : m_pCore(core), m_scan(core->Source(), core->FileLength(), cancel), m_end(core->FileLength()) {}

bool CSeekSearch::IsBefore(const COggLogicalStream* s, const Before& b, LONGLONG granule) const {
    if (b.frame >= 0) {
        const LONGLONG f = s->Codec()->FrameOfGranule(granule);
        return f >= 0 && f < b.frame;
    }
    const LONGLONG t = s->GranuleToTime(granule);
    return t >= 0 && t <= b.time;
}

// From `from`, the first own page with a usable granule before hi. A page of another media stream far after
// the target answers too (found.pos -1, not before): streams are interleaved by time, so the stream's own
// pages beyond it are after the target as well. False: no answer before hi.
bool CSeekSearch::Probe(const COggLogicalStream* s, const Before& b, LONGLONG from, LONGLONG hi, PageInfo* found, bool* before) {
    PageInfo p;
    for (bool more = m_scan.SyncAt(from, hi, &p); more && p.pos < hi; more = m_scan.Next(p, hi, &p)) {
        m_pageSize = (m_pageSize * 7 + (p.End() - p.pos)) / 8; // the file's pages, on average
        if (p.granule == -1) continue;
        if (p.serial == s->Serial()) {
            if (s->GranuleToTime(p.granule) < 0) continue;
            *found = p;
            *before = IsBefore(s, b, p.granule);
            return true;
        }
        const COggLogicalStream* other = m_pCore->FindAnyStream(p.serial);
        if (other && other->IsMediaStream() && other->GranuleToTime(p.granule) > SatAdd(b.time, kSkew)) {
            found->pos = -1;
            *before = false;
            return true;
        }
    }
    return false;
}

// Page by page from `from` (a page boundary): every own timed page before becomes best, the first that is not
// is next.
void CSeekSearch::WalkOn(const COggLogicalStream* s, const Before& b, LONGLONG from, PageInfo* best, PageInfo* next) {
    next->pos = -1;
    const LONGLONG limit = from + kWalkSpan < m_end ? from + kWalkSpan : m_end;
    PageInfo p;
    for (bool more = m_scan.SyncAt(from, limit, &p); more; more = m_scan.Next(p, limit, &p)) {
        if (p.serial != s->Serial() || p.granule == -1 || s->GranuleToTime(p.granule) < 0) continue;
        if (!IsBefore(s, b, p.granule)) {
            *next = p;
            return;
        }
        *best = p;
    }
}

bool CSeekSearch::LastPageBefore(const COggLogicalStream* s, const Before& b, LONGLONG hiPos, LONGLONG hiTime, PageInfo* best,
                                 PageInfo* next) {
    best->pos = -1;
    LONGLONG lo = m_begin, hi = hiPos;
    Ref below{m_begin, s->FirstTimeKnown() ? s->FirstTime() : 0}, above{hiPos, hiTime};
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
            if (found.pos >= 0 && found.serial == s->Serial()) above = Ref{found.pos, s->GranuleToTime(found.granule)};
        }
        poor = hi - lo > range / 2 ? poor + 1 : 0;
    }
    WalkOn(s, b, best->pos >= 0 ? best->End() : lo, best, next);
    return best->pos >= 0;
}

void CSeekSearch::PacketStarts(const PageInfo& page, Starts* out) {
    out->n = 0;
    PacketPart parts[255];
    const int n = PacketParts(page.lacing, page.segments, page.Continued(), parts);
    for (int i = 0; i < n; ++i) {
        if (!parts[i].begins) continue; // the tail of a packet begun before
        const LONGLONG at = page.pos + page.HeaderLen() + parts[i].offset;
        BYTE b = 0xFF; // an empty packet: no first byte (read as a header, never a key frame)
        if (parts[i].bytes > 0 && !m_scan.Bytes(at, 1, &b)) b = 0xFF;
        out->first[out->n] = b;
        out->at[out->n] = at;
        out->size[out->n++] = parts[i].bytes;
    }
}

LONGLONG CSeekSearch::StartGranules(const COggLogicalStream* s, const PageInfo& page, const Starts& st, LONGLONG* granules) {
    for (int k = 0; k < st.n; ++k) granules[k] = -1;
    const int open = page.EndsInsidePacket() ? 1 : 0, done = st.n - open; // begun here and completed here
    auto units = [&](int k) {
        BYTE head[8] = {};
        const LONGLONG len = st.size[k] < 8 ? st.size[k] : 8;
        return m_scan.Bytes(st.at[k], len, head) ? s->Codec()->Units(head, static_cast<long>(len)) : -1;
    };
    if (page.granule == -1 || done <= 0) return -1;
    // The last completed packet carries the page's granule; the others go back from it.
    granules[done - 1] = page.granule;
    for (int k = done - 1; k > 0; --k) {
        const int64_t u = units(k - 1);
        if (u < 0) break;
        granules[k - 1] = SatSub(granules[k], u);
    }
    const int64_t u = units(done - 1);
    const LONGLONG after = u >= 0 ? SatAdd(page.granule, u) : -1;
    if (open) granules[st.n - 1] = after;
    return after;
}

// What begins on a page: for each data packet that begins there, whether it is a key frame and when it starts
// (the stream's own time, -1 when that cannot be told). Packets completed on the page are timed back from its
// granule; the packet it leaves open starts where the last completed one ends; on a page without a granule the
// one packet that begins there starts at openStart.
void CSeekSearch::Begun(const COggLogicalStream* s, const PageInfo& page, LONGLONG openStart, BegunList* out) {
    const COggCodec* codec = s->Codec();
    const bool theora = codec->GranuleNamesKeyFrame();
    Starts st;
    PacketStarts(page, &st);
    out->n = 0;
    const int open = page.EndsInsidePacket() ? 1 : 0, done = st.n - open;
    LONGLONG granules[255];
    const LONGLONG after = theora ? -1 : StartGranules(s, page, st, granules);
    const LONGLONG frame = theora && page.granule != -1 ? codec->FrameOfGranule(page.granule) : -1;
    const LONGLONG d = static_cast<uint32_t>(codec->FrameDuration());
    out->nextStart = theora ? (frame >= 0 ? SatMul(d, SatAdd(frame, 1)) : -1) : (after >= 0 ? s->GranuleToTime(after) : -1);
    for (int k = 0; k < st.n; ++k) {
        const BYTE b = st.first[k];
        if (theora ? (b & 0x80) != 0 : (b & 1) != 0) continue; // a header packet
        LONGLONG start = -1;
        if (page.granule == -1) start = k == st.n - 1 && open ? openStart : -1;
        else if (theora && frame >= 0) start = SatMul(d, k < done ? frame - (done - 1 - k) : SatAdd(frame, 1));
        else if (!theora && granules[k] >= 0) start = s->GranuleToTime(granules[k]);
        out->key[out->n] = theora ? !(b & 0x40) : (b & 8) != 0;
        out->start[out->n] = start;
        out->completed[out->n] = k < done;
        ++out->n;
    }
}

// The latest key frame that starts at or before the target among the packets that begin after the target's
// page's last completed packet and up to the next page: on that next page, on a page without a granule between
// the two (a key frame that spans pages), or left open on the target's page. For the OGM family (no key frame
// in its granules) the packets completed on the target's page count too.
CSeekSearch::KeyFound CSeekSearch::NearKey(const COggLogicalStream* s, LONGLONG target, const PageInfo& best, const PageInfo& next,
                                           bool ogm) {
    KeyFound found;
    BegunList list;
    auto latest = [&](const PageInfo& page, bool completedToo) {
        for (int k = list.n - 1; k >= 0; --k) {
            if (!list.key[k] || (!completedToo && list.completed[k])) continue;
            if (list.start[k] < 0 ? !(list.completed[k] && completedToo) : list.start[k] > target) continue;
            found = KeyFound{page.pos, list.start[k]};
            return true;
        }
        return false;
    };
    if (next.pos >= 0) {
        Begun(s, next, -1, &list);
        if (latest(next, true)) return found;
    }
    if (best.pos < 0) return found;
    Begun(s, best, -1, &list);
    if (!best.EndsInsidePacket() && next.pos >= 0) {
        // The packet after the target page's last completed one begins on a later page: one without a granule
        // before the next page is where a key frame that spans pages begins.
        const LONGLONG after = list.nextStart;
        PageInfo p = best;
        while (m_scan.Next(p, next.pos, &p) && p.pos < next.pos) {
            if (p.serial != s->Serial() || p.granule != -1) continue;
            BegunList gap;
            Begun(s, p, after, &gap);
            if (gap.n > 0 && gap.key[0] && gap.start[0] >= 0 && gap.start[0] <= target) return KeyFound{p.pos, gap.start[0]};
        }
    }
    latest(best, ogm);
    return found;
}

// The page on which the last key frame before `before` begins, looked for in windows further back from it.
CSeekSearch::KeyFound CSeekSearch::KeyBefore(const COggLogicalStream* s, LONGLONG before) {
    LONGLONG end = before, window = kFirstWindow;
    BegunList list;
    while (end > m_begin && before - end < kBackSpan) {
        const LONGLONG start = end - m_begin > window ? end - window : m_begin;
        PageInfo p, page;
        bool have = false;
        for (bool more = m_scan.SyncAt(start, end, &p); more && p.pos < end; more = m_scan.Next(p, end, &p)) {
            if (p.serial != s->Serial()) continue;
            Begun(s, p, -1, &list);
            for (int k = 0; k < list.n; ++k)
                if (list.key[k]) {
                    page = p;
                    have = true;
                }
        }
        if (have) {
            Begun(s, page, -1, &list);
            LONGLONG start = -1;
            for (int k = 0; k < list.n; ++k)
                if (list.key[k]) start = list.start[k];
            return KeyFound{page.pos, start};
        }
        end = start;
        window *= 2;
    }
    return KeyFound{};
}

HRESULT CSeekSearch::Position(const COggLogicalStream* s, LONGLONG target, LONGLONG, LONGLONG* position, LONGLONG* time,
                              LONGLONG* firstWanted) {
    *position = m_begin;
    *time = 0;
    *firstWanted = MinTime;
    if (!s->Codec() || !s->MediaType().HasMediaType()) return S_OK; // nothing of it is ever read
    // A codec whose decoder needs to converge (Opus) starts that much before the target.
    target = SatSub(target, s->Codec()->SeekPreroll());
    Before b;
    b.time = target;
    PageInfo best, next;
    const bool before = LastPageBefore(s, b, m_end, s->EndTimeKnown() ? s->EndTime() : 0, &best, &next);
    if (before) {
        *position = best.pos;
        *time = s->GranuleToTime(best.granule);
        if (next.pos < 0 && !s->OgmType()) {
            // The stream ended at or before the target: nothing of it is left to play.
            *position = m_end;
            return S_OK;
        }
    }
    if (!s->MediaType().bTemporalCompression) return S_OK;
    // Compressed video resumes at the last key frame that starts at or before the target.
    const bool ogm = s->OgmType() != nullptr;
    KeyFound key = NearKey(s, target, best, next, ogm);
    if (key.pos < 0 && before && !ogm) {
        // Theora: the key frame is the one the target page's granule names; the page before the one where it
        // begins is found by a second search on frame numbers.
        Before k;
        k.frame = s->Codec()->KeyFrameOfGranule(best.granule);
        PageInfo q, after;
        if (k.frame >= 0) {
            key.pos = LastPageBefore(s, k, best.End(), *time, &q, &after) ? q.pos : m_begin;
            key.start = k.frame * static_cast<uint32_t>(s->Codec()->FrameDuration());
        }
    } else if (key.pos < 0 && before) {
        key = KeyBefore(s, best.pos);
        if (key.pos < 0) key.pos = best.pos; // none within reach: the video waits for its next key frame
    }
    if (key.pos >= 0) *position = key.pos;
    if (key.start >= 0) *firstWanted = key.start;
    Trace("\nStartPage(%08x)", static_cast<unsigned>(*position));
    return S_OK;
}
