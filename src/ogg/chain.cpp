// Chained files (chain.h): the links are found at the open, each by a bisection on its streams' serial numbers
// (the pages of a link all come before the next link's), their streams by a discovery at their start, their
// ends by an end scan within the link; the media streams of the first link are matched in each.
#include <cstdlib>
#include <cstring>

#include "ogg_demuxer.h"
#include "page_scanner.h"
#include "seek_search.h"
#include "support/alloc.h"

namespace {
constexpr LONGLONG kLinkWalk = 64 << 10; // below this a boundary is walked to page by page
constexpr LONGLONG kLastPages = 65536;   // the end of the file holds the start of a page within this
} // namespace

// Where link `link`, which holds the page ending at `from`, ends: the first page of a serial that is not its own.
// The last page of the file answers for the last link (the first link's is known from the end scan: tailKnown);
// otherwise a bisection, then a walk.
LONGLONG COggDemuxer::LinkEnd(CPageScanner* scan, int32_t link, LONGLONG from, bool tailKnown) {
    const LONGLONG length = m_llFileLength;
    PageInfo p, last;
    if (!tailKnown) {
        const LONGLONG tail = length - kLastPages > from ? length - kLastPages : from;
        for (bool more = scan->SyncAt(tail, length, &p); more; more = scan->Next(p, length, &p)) last = p;
        if (last.pos >= 0 && LinkStream(last.serial, link)) return length;
    }
    LONGLONG lo = from, hi = last.pos >= 0 ? last.pos : length;
    while (hi - lo > kLinkWalk) {
        const LONGLONG mid = lo + (hi - lo) / 2;
        if (!scan->SyncAt(mid, hi, &p)) hi = mid; // the page across mid is the last before hi
        else if (LinkStream(p.serial, link)) lo = p.End();
        else hi = p.pos;
    }
    for (bool more = scan->SyncAt(lo, length, &p); more; more = scan->Next(p, length, &p))
        if (!LinkStream(p.serial, link)) return p.pos;
    return length;
}

HRESULT COggDemuxer::AddLinkRecord(uint32_t serial, COggLogicalStream** out) {
    COggLogicalStream* s = new COggLogicalStream(serial, &m_fourccs);
    if (!s) return E_OUTOFMEMORY;
    auto** table = static_cast<COggLogicalStream**>(
        ReallocBytes(m_ppLinkRecords, sizeof(COggLogicalStream*) * static_cast<size_t>(m_cLinkRecords + 1)));
    if (!table) {
        delete s;
        return E_OUTOFMEMORY;
    }
    m_ppLinkRecords = table;
    m_ppLinkRecords[m_cLinkRecords++] = s;
    *out = s;
    return S_OK;
}

// The streams of the link that begins at `begin` (its beginning-of-stream pages), their headers and first times,
// read as discovery reads the first link's, within the discovery window and the first-time span.
HRESULT COggDemuxer::DiscoverLink(CPageScanner* scan, int32_t link, LONGLONG begin) {
    FileLink& l = m_pLinks[link];
    l.firstRecord = m_cLinkRecords;
    l.records = 0;
    const LONGLONG limit = begin + FirstTimeSpan() < m_llFileLength ? begin + FirstTimeSpan() : m_llFileLength;
    auto pending = [&](LONGLONG at) {
        for (int32_t i = l.firstRecord; i < l.firstRecord + l.records; ++i) {
            const COggLogicalStream* s = m_ppLinkRecords[i];
            if (s->HeadersPending() ? !s->Identified() || (s->Codec() && s->Codec()->IsMedia())
                                    : s->StartTimePending() && s->IsMediaStream())
                return true;
            if (m_tags.Pending(s->Serial()) && at - begin < kHeaderReadCap) return true;
        }
        return false;
    };
    HRESULT hr = m_tags.BeginLink(link);
    if (FAILED(hr)) return hr;
    PageInfo p;
    bool opening = true; // the link's first pages: each begins a stream
    for (bool more = scan->SyncAt(begin, limit, &p); more; more = scan->Next(p, limit, &p)) {
        COggLogicalStream* s = const_cast<COggLogicalStream*>(LinkStream(p.serial, link));
        if (opening && (p.flags & 2) && !s && l.records < kMaxLinkStreams) {
            hr = AddLinkRecord(p.serial, &s);
            if (FAILED(hr)) break;
            ++l.records;
        } else {
            opening = false;
            if (!s && (p.flags & 2)) break; // the next link already: this one was short
            if (!pending(p.pos)) break;
        }
        ogg_page og;
        if (!s || !scan->Whole(p, &og)) continue;
        if (s->HasHeaders()) s->ParseHeaderPage(&og);
        m_tags.TakePage(&og, s->CodecKind());
    }
    m_tags.EndLink(); // headers not complete by now are left out with their tags
    return hr;
}

// Each media stream of the first link goes on in link `link` through the first stream there of the same codec
// and major type that no other one took. Streams that match nothing are not played.
void COggDemuxer::MatchLink(int32_t link) {
    const FileLink& l = m_pLinks[link];
    for (int32_t i = l.firstRecord; i < l.firstRecord + l.records; ++i) {
        COggLogicalStream* r = m_ppLinkRecords[i];
        if (!r->IsMediaStream()) continue;
        for (int32_t j = 0; j < m_cOggStreams; ++j) {
            COggLogicalStream& s = m_ppOggStreams[j]->Logical();
            if (!s.IsMediaStream() || !s.Chained() || s.InLink(link).record || s.CodecKind() != r->CodecKind() ||
                !IsEqualGUID(s.MediaType().majortype, r->MediaType().majortype))
                continue;
            s.CarryInLink(link, r);
            break;
        }
    }
}

HRESULT COggDemuxer::InitLinks() {
    m_cLinks = 1;
    m_pLinks = static_cast<FileLink*>(AllocZeroed(1, sizeof(FileLink)));
    if (!m_pLinks) return E_OUTOFMEMORY;
    m_pLinks[0].end = m_llFileLength;
    return S_OK;
}

// Every link after the first: found, discovered, matched. Called when the file's last page is of no stream of the
// first link (the end scan saw it). A boundary where no stream begins (damage, stray pages) ends the search: what
// follows it is read as part of the link before.
HRESULT COggDemuxer::FindLinks() {
    CPageScanner scan(m_pSource, m_llFileLength);
    LONGLONG from = m_llDiscovered;
    for (int32_t k = 0; k + 1 < kMaxLinks; ++k) {
        const LONGLONG end = LinkEnd(&scan, k, from, k == 0);
        PageInfo p;
        if (end >= m_llFileLength || !scan.SyncAt(end, m_llFileLength, &p) || p.pos != end || !(p.flags & 2)) break;
        auto* links = static_cast<FileLink*>(ReallocBytes(m_pLinks, sizeof(FileLink) * static_cast<size_t>(m_cLinks + 1)));
        if (!links) return E_OUTOFMEMORY;
        m_pLinks = links;
        m_pLinks[m_cLinks] = FileLink{};
        m_pLinks[m_cLinks].begin = end;
        m_pLinks[m_cLinks].end = m_llFileLength;
        ++m_cLinks;
        HRESULT hr = DiscoverLink(&scan, k + 1, end);
        if (FAILED(hr)) return hr;
        if (m_pLinks[k + 1].records == 0) { // nothing could be read there
            --m_cLinks;
            break;
        }
        m_pLinks[k].end = end;
        from = end;
    }
    if (m_cLinks == 1) return S_OK;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggLogicalStream& s = m_ppOggStreams[i]->Logical();
        if (!s.IsMediaStream()) continue;
        HRESULT hr = s.JoinChain(m_cLinks);
        if (FAILED(hr)) return hr;
    }
    for (int32_t k = 1; k < m_cLinks; ++k) MatchLink(k);
    return S_OK;
}

// Each later link's origin, end and duration, and where it starts on the timeline: where the one before ends.
HRESULT COggDemuxer::TimeLinks(LONGLONG firstEnd) {
    m_pLinks[0].first = m_llOrigin;
    m_pLinks[0].start = 0;
    m_pLinks[0].duration = firstEnd > 0 ? firstEnd : 0;
    for (int32_t k = 1; k < m_cLinks; ++k) {
        FileLink& l = m_pLinks[k];
        LONGLONG origin = MaxTime;
        int32_t unknownEnds = 0;
        for (int32_t i = l.firstRecord; i < l.firstRecord + l.records; ++i) {
            const COggLogicalStream* r = m_ppLinkRecords[i];
            if (!r->IsMediaStream()) continue;
            ++unknownEnds;
            if (r->FirstTimeKnown() && r->FirstTime() < origin) origin = r->FirstTime();
        }
        l.first = origin == MaxTime || origin < 0 ? 0 : origin;
        LONGLONG end = 0;
        HRESULT hr = EndScan(k, l.begin, l.end, &unknownEnds, &end, nullptr);
        if (FAILED(hr)) return hr;
        l.duration = end > l.first ? end - l.first : 0;
        l.start = SatAdd(m_pLinks[k - 1].start, m_pLinks[k - 1].duration);
    }
    return S_OK;
}

// A seek in a chained file: the search runs within the link that plays at the target, on the stream that carries
// the media stream there. A media stream that link does not carry, or that ended in it before the target, resumes
// where its next link begins (or ends, with none).
HRESULT COggDemuxer::ChainedResume(CSeekSearch* search, COggStream* stream, LONGLONG start, LONGLONG* position,
                                   LONGLONG* time, LONGLONG* firstWanted) {
    *firstWanted = MinTime;
    const COggLogicalStream& s = stream->Logical();
    const int32_t k = LinkAt(start);
    const FileLink& l = m_pLinks[k];
    const LONGLONG shift = l.Shift(m_llOrigin); // a time of the link plus this: the first link's own time
    if (const COggLogicalStream* r = start < m_llSpan ? s.InLink(k).record : nullptr) {
        search->SetRange(l.begin, l.end);
        LONGLONG wanted = MinTime;
        HRESULT hr = SearchStream(search, r, SatSub(SatAdd(start, m_llOrigin), shift), position, time, &wanted);
        search->SetRange(0, m_llFileLength);
        if (FAILED(hr)) return hr;
        if (*position < l.end) {
            *time = SatAdd(*time, shift);
            if (wanted != MinTime) *firstWanted = SatSub(SatAdd(wanted, shift), m_llOrigin);
            return S_OK;
        }
    }
    int32_t j = k + 1;
    while (j < m_cLinks && !s.InLink(j).record) ++j;
    const bool later = j < m_cLinks && start < m_llSpan;
    *position = later ? m_pLinks[j].begin : m_llFileLength;
    *time = later ? SatAdd(m_pLinks[j].start, m_llOrigin) : SatAdd(m_llSpan, m_llOrigin);
    return S_OK;
}

void COggDemuxer::FreeLinks() {
    for (int32_t i = 0; i < m_cLinkRecords; ++i) delete m_ppLinkRecords[i];
    std::free(m_ppLinkRecords);
    m_ppLinkRecords = nullptr;
    m_cLinkRecords = 0;
    std::free(m_pLinks);
    m_pLinks = nullptr;
    m_cLinks = 0;
}
