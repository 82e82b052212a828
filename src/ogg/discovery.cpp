// The open: discovery of the logical streams and their headers over the start of the file, the time of each
// media stream's first packet, its end from a scan of the file's end, the links of a chain, and the timeline.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "ogg_demuxer.h"
#include "page_scanner.h"
#include "packet_clock.h"
#include "page_sync.h"
#include "replay_source.h"
#include "support/alloc.h"

HRESULT COggDemuxer::AddStream(uint32_t serial, COggStream** out) {
    COggStream* stream = new COggStream(m_cOggStreams, serial, &m_fourccs);
    if (!stream) return E_OUTOFMEMORY; // a record that cannot be allocated fails the open like the table
    auto** table = static_cast<COggStream**>(ReallocBytes(m_ppOggStreams, sizeof(COggStream*) * static_cast<size_t>(m_cOggStreams + 1)));
    if (!table) {
        delete stream;
        return E_OUTOFMEMORY;
    }
    m_ppOggStreams = table;
    m_ppOggStreams[m_cOggStreams++] = stream;
    *out = stream;
    return S_OK;
}

// Discovery waits for the media streams whose type is still unknown; not for a stream that is known not to be
// media (a Skeleton, Kate) or not to be understood, which would have made discovery read its whole window for
// nothing. Bytes read once also wait for every media stream's headers and first time: no later scan can read
// them (of a file that can be read anywhere, the first-time scan completes them).
int32_t COggDemuxer::CountUndescribed() const {
    const bool whole = !m_caps.seekable;
    int32_t n = 0;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        const COggLogicalStream& l = m_ppOggStreams[i]->Logical();
        n += l.Undescribed() || (whole && l.IsMediaStream() && (l.HeadersPending() || l.StartTimePending()));
    }
    return n;
}

// Whether the open reads on past its window: a stream it found still waits for headers (its codec's, or the
// comment header with its tags, which a cover can make large).
bool COggDemuxer::HeadersPending() const {
    for (int32_t i = 0; i < m_cOggStreams; ++i)
        if (m_ppOggStreams[i]->Logical().Undescribed()) return true;
    return m_tags.AnyPending();
}

HRESULT COggDemuxer::DiscoveryScan() {
    HRESULT hr = m_tags.BeginLink(0);
    if (FAILED(hr)) return hr;
    hr = ScanLinkStart();
    m_tags.EndLink(); // headers not complete by now are left out with their tags
    return hr;
}

// Streams are looked for in the first DiscoveryLimit bytes; the headers of those found are read on for up to
// kHeaderReadCap bytes (a 1 MB cover ahead of a Vorbis setup header), not further.
HRESULT COggDemuxer::ScanLinkStart() {
    const LONGLONG limit = m_llFileLength < kHeaderReadCap ? m_llFileLength : kHeaderReadCap;
    CPageSync sync;
    sync.Reset(0);
    m_llDiscovered = 0;
    bool dataSeen = false; // a page that begins no stream: the link's beginning-of-stream pages are over
    bool nextLink = false; // a page that begins the next link (a chained file): not taken
    const LONG chunk = m_caps.ReadChunk();
    for (LONGLONG offset = 0; offset < limit && !nextLink && (offset < DiscoveryLimit || HeadersPending());) {
        const LONG n = static_cast<LONG>(limit - offset < chunk ? limit - offset : chunk);
        BYTE* buffer = sync.Space(static_cast<size_t>(n));
        LONG got = 0;
        if (!buffer || FAILED(m_pSource->ReadAt(offset, buffer, n, &got))) return MF_E_CANNOT_PARSE_BYTESTREAM;
        if (got <= 0 || got > n) {
            if (offset == 0) return MF_E_CANNOT_PARSE_BYTESTREAM;
            break; // the data ends within the window
        }
        sync.Wrote(static_cast<size_t>(got));
        offset += got;
        m_llDiscovered = offset;
        // Bytes that are no page (an ID3 tag, a partial page before the first) are passed over.
        OggPageView view;
        while (sync.Next(&view)) {
            const uint32_t serial = view.header.serial;
            COggStream* stream = FindStream(serial);
            if (!stream && dataSeen && view.header.FirstOfStream()) {
                nextLink = true;
                m_llDiscovered = view.offset; // the first byte no page was taken from
                break;
            }
            dataSeen = dataSeen || !view.header.FirstOfStream();
            if (!stream && view.offset >= DiscoveryLimit) continue; // past the window: only the streams found
            if (!stream) {
                HRESULT hr = AddStream(serial, &stream);
                if (FAILED(hr)) return hr;
            }
            ogg_page page = AsOggPage(view);
            stream->Logical().ParseHeaderPage(&page);
            m_tags.TakePage(&page, stream->Logical().CodecKind());
        }
        if (!nextLink) m_llDiscovered = sync.Position();
        // Junk ahead of the first page reads on.
        if (m_cOggStreams > 0 && CountUndescribed() == 0 && !m_tags.AnyPending()) break;
    }
    return S_OK;
}

// Media streams whose first timed data packet lies beyond the discovery window (a file written with an offset
// whose video pages are large, say) need it for the origin: their pages are looked for from where discovery
// stopped, header to header, the other streams' bodies not read.
void COggDemuxer::FirstTimeScan() {
    auto pending = [this] {
        for (int32_t i = 0; i < m_cOggStreams; ++i) {
            const COggLogicalStream& l = m_ppOggStreams[i]->Logical();
            if (l.MediaType().HasMediaType() && l.StartTimePending()) return true;
        }
        return false;
    };
    if (!pending() || m_llFileLength >= UnknownLength || !m_caps.seekable) return;
    const LONGLONG span = FirstTimeSpan();
    const LONGLONG limit = m_llFileLength - m_llDiscovered > span ? m_llDiscovered + span : m_llFileLength;
    CPageScanner scan(m_pSource, m_llFileLength);
    PageInfo page;
    for (bool more = scan.SyncAt(m_llDiscovered, limit, &page); more && pending(); more = scan.Next(page, limit, &page)) {
        COggStream* s = FindStream(page.serial);
        ogg_page og;
        if (s && s->Logical().MediaType().HasMediaType() && s->Logical().StartTimePending() && scan.Whole(page, &og))
            s->Logical().ParseHeaderPage(&og);
    }
}

LONGLONG COggDemuxer::CommentDurations(int32_t* unknownEnds) {
    LONGLONG end = 0;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggLogicalStream& s = m_ppOggStreams[i]->Logical();
        const char* text = s.IsMediaStream() ? s.Codec()->Comment("DIRECTX_DURATION") : nullptr;
        if (!text) continue;
        int64_t v = 0;
        std::sscanf(text, "%" SCNi64, &v); // scanf's %i: sign, decimal, 0x hexadecimal or 0 octal
        if (v < 0 || v > UnknownLength - 1) continue;
        if (s.NoteEnd(v)) --*unknownEnds;
        if (v > end) end = v;
    }
    return end;
}

namespace {
// The end of the stream's last packet in [start, start + n), timed as playback times it: the packets of a runaway
// page take their times from their neighbours, so the end is where the stream's packets really end. -1: none.
HRESULT ClockedEnd(IOggByteSource* source, const COggLogicalStream& s, LONGLONG start, LONG n, LONGLONG* end) {
    *end = -1;
    CPageSync sync;
    sync.Reset(start);
    BYTE* buffer = sync.Space(static_cast<size_t>(n));
    if (!buffer) return E_OUTOFMEMORY;
    LONG got = 0;
    const HRESULT hr = ReadFully(source, start, buffer, n, &got);
    if (FAILED(hr)) return hr;
    sync.Wrote(static_cast<size_t>(got > 0 ? got : 0));
    COggPacketClock clock(&s);
    OggPageView view;
    while (sync.Next(&view)) {
        if (view.header.serial != s.Serial()) continue;
        ogg_page page = AsOggPage(view);
        bool switched = false;
        if (FAILED(clock.Feed(&page, nullptr, &switched))) break; // a packet too large: what came before counts
        OggPacketInfo packet;
        while (clock.Next(&packet))
            if (packet.hasTime && packet.end > *end) *end = packet.end;
    }
    return S_OK;
}

// The end of a stream that met a runaway page in the window at `start` (`got` bytes): its packets clocked from a
// window further back, and while that end is still a runaway beside the other streams' latest time (`others`),
// from twice as far back, up to kRunawayLookBack before the window.
constexpr LONGLONG kRunawayLookBack = 0x100000;
HRESULT RunawayEnd(IOggByteSource* source, const COggLogicalStream& s, LONGLONG from, LONGLONG start, LONG got,
                   LONGLONG others, LONGLONG* end) {
    *end = -1;
    for (LONGLONG span = EndScanWindow;; span *= 2) {
        const LONGLONG back = start - span > from ? start - span : from;
        const HRESULT hr = ClockedEnd(source, s, back, static_cast<LONG>(start - back) + got, end);
        if (FAILED(hr)) return hr;
        const bool settled = others == -1 || *end <= SatAdd(others, kRunawaySpan);
        if (settled || back == from || span >= kRunawayLookBack) return S_OK;
    }
}
} // namespace

HRESULT COggDemuxer::EndScan(int32_t link, LONGLONG from, LONGLONG to, int32_t* unknownEnds, LONGLONG* end, int64_t* tail) {
    CPageSync sync;
    for (LONGLONG pos = to, window = 0;; ++window) {
        const LONGLONG start = pos - EndScanWindow > from ? pos - EndScanWindow : from;
        const LONG n = static_cast<LONG>(pos - start);
        sync.Reset(start);
        BYTE* buffer = sync.Space(static_cast<size_t>(n));
        if (!buffer) return E_OUTOFMEMORY;
        LONG got = 0;
        HRESULT hr = ReadFully(m_pSource, start, buffer, n, &got);
        if (FAILED(hr)) return hr;
        // Only what was read: a short read (the data ended early) parses the bytes it brought.
        sync.Wrote(static_cast<size_t>(got > 0 ? got : 0));
        OggPageView view;
        LONGLONG latest = -1; // of the pages in the window so far that were not runaways
        while (sync.Next(&view)) {
            if (tail && pos == to) *tail = view.header.serial;
            COggLogicalStream* s = const_cast<COggLogicalStream*>(LinkStream(view.header.serial, link));
            if (!s || !s->IsMediaStream()) continue;
            const LONGLONG g = view.header.granule;
            const LONGLONG t = g == -1 ? -1 : s->GranuleToTime(g);
            if (t < 0) continue;
            bool first = false;
            if (s->NoteEndPage(static_cast<int32_t>(window), t, latest, &first) && t > latest) latest = t;
            if (first) --*unknownEnds;
        }
        // The latest end of the link's media streams; one that met a runaway page ends where its packets do.
        const int32_t records = link == 0 ? m_cOggStreams : m_pLinks[link].records;
        for (int32_t i = 0; i < records; ++i) {
            auto& s = const_cast<COggLogicalStream&>(LinkStreamAt(link, i));
            if (!s.IsMediaStream()) continue;
            LONGLONG clocked = -1;
            // The stream's pages before its runaways, further back, give its packets their times.
            if (got > 0 && s.RunawayInWindow(static_cast<int32_t>(window)))
                hr = RunawayEnd(m_pSource, s, from, start, got, latest, &clocked);
            if (FAILED(hr)) return hr;
            if (clocked >= 0 && s.NoteClockedEnd(clocked)) --*unknownEnds;
            if (s.EndTimeKnown() && s.EndTime() > *end) *end = s.EndTime();
        }
        // A last page of another link (a chain) stops the scan: that link's pages would all be read for nothing.
        const bool foreignTail = tail && pos == to && *tail >= 0 && !LinkStream(static_cast<uint32_t>(*tail), link);
        if (*unknownEnds <= 0 || start == from || foreignTail) return S_OK;
        if (SlowBytes()) return S_OK; // over a network, one window: an end not in it stays unknown
        pos -= EndScanStep;
        if (pos <= from) return S_OK;
    }
}

HRESULT COggDemuxer::Open() {
    m_caps = m_pSource->Caps();
    if (!m_caps.seekable) { // what discovery reads is served again to the first run
        CReplaySource* replay = nullptr;
        HRESULT hr = CReplaySource::Create(m_pSource, &replay);
        if (FAILED(hr)) return hr;
        m_pSource->Release();
        m_pSource = m_pReplay = replay;
    }
    const HRESULT hr = Discover();
    if (m_pReplay) m_pReplay->EndRecording();
    return hr;
}

HRESULT COggDemuxer::Discover() {
    const bool lengthKnown = m_caps.length >= 0;
    m_llFileLength = lengthKnown ? m_caps.length : UnknownLength;
    HRESULT hr = DiscoveryScan();
    if (FAILED(hr)) return hr;
    if (m_cOggStreams == 0) return MF_E_CANNOT_PARSE_BYTESTREAM;
    int32_t media = 0;
    for (int32_t i = 0; i < m_cOggStreams; ++i) media += m_ppOggStreams[i]->Logical().IsMediaStream();
    if (media == 0) return MF_E_INVALID_FILE_FORMAT; // an Ogg file, but nothing in it can be played
    FirstTimeScan();
    hr = InitLinks();
    if (FAILED(hr)) return hr;
    LONGLONG end = 0;
    hr = EndTimes(&end);
    if (hr == E_OUTOFMEMORY) return hr;
    const HRESULT status = hr; // an end scan that could not read leaves the duration unknown, not the open failed
    // One timeline: the duration and every position count from the origin, so a file cut or written with an
    // offset lasts its span and its first sample is at 0.
    m_llOrigin = FindOrigin();
    if (end < UnknownLength) end = end > m_llOrigin ? end - m_llOrigin : 0;
    if (m_cLinks > 1 && end < UnknownLength) {
        // A chain lasts as long as its links together: each link's end is found within it.
        hr = TimeLinks(end);
        if (FAILED(hr)) return hr;
        end = SatAdd(m_pLinks[m_cLinks - 1].start, m_pLinks[m_cLinks - 1].duration);
    }
    m_llSpan = end;
    for (int32_t i = 0; i < m_cOggStreams; ++i) m_ppOggStreams[i]->Opened(m_pLinks, m_llOrigin, !m_caps.seekable);
    return status;
}

// The media streams' end times and the latest of them. The end scan looks for the media streams only: a Skeleton
// track's end (or any other stream's) is waited for by nothing, so a file with one is read no further than the
// same file without it. A file whose last page is of no stream of the first link is a chain: its links are found,
// and the first link's ends looked for within it.
HRESULT COggDemuxer::EndTimes(LONGLONG* end) {
    for (int pass = 0;; ++pass) {
        int32_t unknownEnds = 0;
        for (int32_t i = 0; i < m_cOggStreams; ++i) {
            m_ppOggStreams[i]->Logical().ForgetEnd();
            unknownEnds += m_ppOggStreams[i]->Logical().IsMediaStream();
        }
        *end = CommentDurations(&unknownEnds);
        if (unknownEnds <= 0) return S_OK;
        if (m_caps.length < 0 || m_llFileLength >= UnknownLength || !m_caps.seekable) {
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

LONGLONG COggDemuxer::FindOrigin() const {
    LONGLONG origin = MaxTime;
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        const COggLogicalStream& s = m_ppOggStreams[i]->Logical();
        if (s.MediaType().HasMediaType() && s.FirstTimeKnown() && s.FirstTime() < origin) origin = s.FirstTime();
    }
    return origin == MaxTime || origin < 0 ? 0 : origin; // below zero counts as zero
}
