// The packet clock (packet_clock.h).
#include "packet_clock.h"

#include <cstring>

#include "page_walker.h"

COggPacketClock::COggPacketClock(const COggLogicalStream* stream)
    : m_pStream(stream), m_pCodec(stream->Codec()), m_serial(stream->Serial()) {
    ogg_stream_init(&m_state, static_cast<int>(stream->Serial()));
}

COggPacketClock::~COggPacketClock() {
    ogg_stream_clear(&m_state);
    if (m_pLive) m_pLive->Release();
}

void COggPacketClock::SetTimeline(const FileLink* links, LONGLONG origin) {
    m_pLinks = links;
    m_origin = origin;
}

// Times on the presentation's timeline count from its origin; a later link's from where it starts on it.
LONGLONG COggPacketClock::ShiftOf(int32_t link) const {
    if (!m_pStream->Chained() || !m_pLinks) return SatSub(0, m_origin);
    return SatSub(m_pLinks[link].Shift(m_origin), m_origin);
}

void COggPacketClock::Restart() {
    if (m_pLive) { // read once: the run goes on in the link the stream is in
        ResetReassembly(m_serial);
        return;
    }
    m_pCodec = m_pStream->Codec();
    m_link = 0;
    m_shift = ShiftOf(0);
    ResetReassembly(m_pStream->Serial());
}

// Nothing held, no packet to follow, pages of `serial` taken from here on.
void COggPacketClock::ResetReassembly(uint32_t serial) {
    m_serial = serial;
    ogg_stream_reset_serialno(&m_state, static_cast<int>(m_serial));
    m_lastPacketNo = -1;
    m_lastGranule = -1;
    m_lastUnits = 0;
    m_bNoReference = true;
    m_cAhead = m_nextAhead = 0;
    m_bAheadEndsAtHole = m_bHole = false;
    m_openBytes = 0;
}

// Production enters another link: the stream state takes that link's serial and codec, its times their shift.
void COggPacketClock::SwitchLink(uint32_t serial) {
    const int32_t k = m_pStream->LinkOfSerial(serial);
    if (k < 0) return;
    m_serial = serial;
    ogg_stream_reset_serialno(&m_state, static_cast<int>(serial));
    m_link = k;
    m_pCodec = m_pStream->InLink(k).record->Codec();
    m_shift = ShiftOf(k);
    m_lastPacketNo = -1;
    m_lastGranule = -1;
    m_lastUnits = 0;
    m_bNoReference = true;
}

// Production enters a link read once: its codec and its times' shift, held while production is in it.
void COggPacketClock::EnterLink(COggLiveLink* link, uint32_t serial) {
    const COggLogicalStream* record = link->Find(serial);
    if (!record) return;
    link->AddRef();
    if (m_pLive) m_pLive->Release();
    m_pLive = link;
    m_link = link->Number();
    m_pCodec = record->Codec();
    m_shift = link->Shift();
    ResetReassembly(serial);
}

const COggLogicalStream* COggPacketClock::LinkRecord() const {
    if (m_pLive) return m_pLive->Find(m_serial);
    return m_pStream->Chained() ? m_pStream->InLink(m_link).record : nullptr;
}

HRESULT COggPacketClock::Feed(ogg_page* page, COggLiveLink* link, bool* switched) {
    *switched = false;
    // The packets the page begins, goes on with and ends: the one it leaves open may not grow beyond the limit.
    PacketPart parts[255];
    const int n = PacketParts(page->header + 27, page->header[26], ogg_page_continued(page) != 0, parts);
    int64_t open = m_openBytes;
    for (int i = 0; i < n; ++i) {
        open = (parts[i].begins ? 0 : open) + parts[i].bytes;
        if (open > kMaxPacketBytes) return MF_E_INVALID_FILE_FORMAT;
        if (parts[i].ends) open = 0;
    }
    m_openBytes = open;
    const uint32_t serial = static_cast<uint32_t>(ogg_page_serialno(page));
    if (link) {
        EnterLink(link, serial);
        *switched = true;
    } else if (m_pStream->Chained() && serial != m_serial) {
        SwitchLink(serial);
        *switched = true;
    }
    ogg_stream_pagein(&m_state, page);
    return S_OK;
}

bool COggPacketClock::Take(ogg_packet* packet) {
    if (m_nextAhead < m_cAhead) {
        *packet = m_ahead[m_nextAhead++];
        if (m_nextAhead == m_cAhead) {
            m_nextAhead = m_cAhead = 0;
            if (m_bAheadEndsAtHole) m_bHole = true; // the hole comes after them
            m_bAheadEndsAtHole = false;
        }
        return true;
    }
    for (;;) {
        const int r = ogg_stream_packetout(&m_state, packet);
        if (r > 0) return true;
        if (r == 0) return false;
        m_bHole = true; // a gap in the pages: libogg counts it in the packet numbers, so the next packet follows nothing
    }
}

void COggPacketClock::Remember(const ogg_packet& packet, LONGLONG granule, int64_t units) {
    if (granule != -1) m_bNoReference = false;
    m_lastPacketNo = packet.packetno;
    m_lastGranule = granule;
    m_lastUnits = units;
}

LONGLONG COggPacketClock::GranuleFromAhead(int64_t units) {
    // What was taken ahead already, then more from the stream state, up to the first packet with a granule.
    if (m_nextAhead > 0) {
        std::memmove(m_ahead, m_ahead + m_nextAhead, sizeof(ogg_packet) * static_cast<size_t>(m_cAhead - m_nextAhead));
        m_cAhead -= m_nextAhead;
        m_nextAhead = 0;
    }
    int32_t i = m_nextAhead;
    LONGLONG granule = -1;
    for (;; ++i) {
        if (i == m_cAhead) {
            if (m_bAheadEndsAtHole) return -1; // a hole between: that granule does not reach back here
            if (m_cAhead == kMaxFirstUnits) return -1;
            const int r = ogg_stream_packetout(&m_state, &m_ahead[m_cAhead]);
            if (r == 0) return -1; // the next granule is not reassembled yet
            if (r < 0) {
                m_bAheadEndsAtHole = m_cAhead > m_nextAhead;
                if (!m_bAheadEndsAtHole) m_bHole = true;
                return -1;
            }
            ++m_cAhead;
        }
        if (m_ahead[i].granulepos != -1) {
            granule = m_ahead[i].granulepos;
            break;
        }
    }
    // Back from that packet over the lengths of those before it, to the packet just taken.
    for (int32_t j = i; j >= m_nextAhead && granule != -1; --j) {
        const ogg_packet& p = m_ahead[j];
        const ogg_packet* before = j > m_nextAhead ? &m_ahead[j - 1] : nullptr;
        const int64_t own = m_pCodec->Units(p.packet, p.bytes);
        const int64_t prev = before ? m_pCodec->Units(before->packet, before->bytes) : units;
        granule = m_pCodec->PrevGranule(granule, prev, own);
    }
    return granule;
}

// More than kRunawaySpan from the granule the packets since the last one give: a damaged page's granule (its
// packets delivered at that time would end the run, and its time would be the stream's end).
bool COggPacketClock::Runaway(LONGLONG granule, int64_t units) const {
    if (m_pStream->SparseTimes()) return false; // subtitles: minutes apart by nature
    const LONGLONG expected = m_pCodec->GranuleTime(m_pCodec->NextGranule(m_lastGranule, m_lastUnits, units));
    const LONGLONG t = m_pCodec->GranuleTime(granule);
    if (expected < 0 || t < 0) return false;
    return t > SatAdd(expected, kRunawaySpan) || t < SatSub(expected, kRunawaySpan);
}

bool COggPacketClock::Next(OggPacketInfo* info) {
    for (;;) {
        ogg_packet packet;
        if (!Take(&packet)) return false;
        const COggCodec* codec = m_pCodec;
        if (packet.bytes < 1 || !codec) continue; // nothing to time or deliver; an unknown codec has no timing
        if (codec->IsHeaderPacket(packet.packet, packet.bytes)) {
            // A header leaves no reference: the first data packet after the headers is timed back from the first
            // granule position, as any packet that follows no timed one.
            Remember(packet, -1, 0);
            m_bNoReference = true;
            continue;
        }
        if (!codec->Accepts(packet.packet, packet.bytes)) continue;
        const int64_t units = codec->Units(packet.packet, packet.bytes);
        const LONGLONG prev = Follows(packet) ? m_lastGranule : -1;
        LONGLONG g = packet.granulepos;
        if (g != -1 && prev != -1 && Runaway(g, units)) g = -1; // timed from its neighbours, as if it had none
        if (g == -1) g = prev != -1 ? codec->NextGranule(m_lastGranule, m_lastUnits, units) : GranuleFromAhead(units);
        Remember(packet, g, units);
        if (g == -1) continue; // untimed: passed over
        LONGLONG start = 0, end = 0;
        const COggCodec::Time time = codec->PacketTimes(g, units, prev, &start, &end);
        if (time == COggCodec::Time::Skip) continue;
        *info = OggPacketInfo{};
        // In a chained file only the end of the stream's last link ends it.
        info->eos = packet.e_o_s != 0 && !m_readOnce && m_link == m_pStream->LastLink();
        const BYTE* data = packet.packet;
        long bytes = packet.bytes;
        codec->Payload(&data, &bytes);
        info->data = data;
        info->length = static_cast<LONG>(bytes);
        info->hasTime = time == COggCodec::Time::Timed;
        info->start = info->hasTime ? SatAdd(start, m_shift) : 0;
        info->end = info->hasTime ? SatAdd(end, m_shift) : 0;
        info->key = codec->IsKeyFrame(packet.packet, packet.bytes, true);
        return true;
    }
}
