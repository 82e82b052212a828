// The logical stream: header parsing through the stream's codec, the time of its first data packet, its end, and
// its links in a chained file.
#include "logical_stream.h"

#include <cstdlib>

COggLogicalStream::COggLogicalStream(uint32_t serial, const CFourccMap* fourccs)
    : m_serialNo(serial), m_pFourccs(fourccs) {
    ogg_stream_init(&m_headerState, static_cast<int>(serial));
}

COggLogicalStream::~COggLogicalStream() {
    ogg_stream_clear(&m_headerState);
    delete m_pCodec;
    std::free(m_pChain);
}

bool COggLogicalStream::Undescribed() const {
    return !m_mediaType.HasMediaType() && (m_pCodec ? m_pCodec->IsMedia() : !m_bIdentified);
}

bool COggLogicalStream::ParseHeaderPage(ogg_page* page) {
    if (m_headerFlags == 0) return false;
    ogg_stream_pagein(&m_headerState, page);
    while (m_headerFlags != 0) {
        ogg_packet packet;
        const int r = ogg_stream_packetout(&m_headerState, &packet);
        if (r == -1) continue; // a gap: take the next packet
        if (r == 0) return false;
        if (packet.bytes < 1) continue; // an empty packet has no type byte to go by: passed over
        bool gaveUp = false;
        ParsePacket(&packet, &gaveUp);
        if (gaveUp) return true;
    }
    return false;
}

void COggLogicalStream::ParsePacket(ogg_packet* packet, bool* gaveUp) {
    if (!(m_headerFlags & HEADERS_PENDING)) {
        if (m_pCodec) m_pCodec->TakeLateHeader(*packet);
        StartTimeStep(packet);
        return;
    }
    if (!m_pCodec) {
        Identify(packet, gaveUp);
        return;
    }
    switch (m_pCodec->TakeHeader(*packet)) {
    case HeaderStep::Taken: Describe(); break;
    case HeaderStep::Done:
        Describe();
        m_headerFlags &= ~HEADERS_PENDING;
        break;
    case HeaderStep::Data:
        m_headerFlags &= ~HEADERS_PENDING;
        StartTimeStep(packet);
        break;
    case HeaderStep::GiveUp:
        GiveUp();
        *gaveUp = true;
        break;
    }
}

// The codec is fixed by the first identification header the table recognises. Until then a data packet (type
// bit clear, not a Theora-style header) ends the headers of a stream that stays unknown.
void COggLogicalStream::Identify(ogg_packet* packet, bool* gaveUp) {
    m_bIdentified = true;
    bool refused = false;
    m_pCodec = IdentifyCodec(*packet, m_pFourccs, &refused);
    if (refused) {
        GiveUp();
        *gaveUp = true;
        return;
    }
    if (m_pCodec) {
        m_codec = m_pCodec->Kind();
        Describe();
        return;
    }
    const BYTE b = packet->packet[0];
    if (!(b & 1) && !(b & 0x80)) {
        m_headerFlags &= ~HEADERS_PENDING;
        StartTimeStep(packet);
    }
}

// The media type and the stream's limits, as soon as the codec knows them.
void COggLogicalStream::Describe() {
    if (m_mediaType.HasMediaType() || !m_pCodec->MediaType(&m_mediaType)) return;
    const CodecLimits limits = m_pCodec->Limits();
    m_maxSampleSize = limits.maxSampleSize;
    // A header's own page marks (OGM derives them from its buffer size) stay within the queue's limits.
    m_queueHigh = limits.queueHigh < 2 ? 2 : limits.queueHigh > kMaxQueuePages ? kMaxQueuePages : limits.queueHigh;
    m_queueLow = limits.queueLow < 1 ? 1 : limits.queueLow >= m_queueHigh ? m_queueHigh / 2 : limits.queueLow;
}

void COggLogicalStream::GiveUp() {
    m_mediaType.SetType(GUID_NULL);
    m_codec = CODEC_UNKNOWN;
    m_headerFlags = 0;
    delete m_pCodec;
    m_pCodec = nullptr;
}

// The start time is that of the first data packet with a granule position; the first time works back from
// it over the data packets completed before it, by the codec's arithmetic.
void COggLogicalStream::StartTimeStep(const ogg_packet* packet) {
    if (!(m_headerFlags & START_TIME_PENDING)) return;
    const bool counted = m_pCodec && m_pCodec->Accepts(packet->packet, packet->bytes);
    if (counted && m_cFirstUnits < kMaxFirstUnits)
        m_firstUnits[m_cFirstUnits++] = m_pCodec->Units(packet->packet, packet->bytes);
    if (packet->granulepos == -1) return;
    m_startTime = GranuleToTime(packet->granulepos);
    m_headerFlags &= ~START_TIME_PENDING;
    if (!counted || m_cFirstUnits == kMaxFirstUnits) return; // too many to work back over: the first time stays unknown
    LONGLONG g = packet->granulepos;
    for (int32_t j = m_cFirstUnits - 1; j > 0 && g != -1; --j) g = m_pCodec->PrevGranule(g, m_firstUnits[j - 1], m_firstUnits[j]);
    LONGLONG start = 0, end = 0;
    if (g != -1 && m_pCodec->PacketTimes(g, m_firstUnits[0], -1, &start, &end) == COggCodec::Time::Timed) m_firstTime = start;
}

LONGLONG COggLogicalStream::FrameDuration() const {
    if (!m_pCodec || !IsVideo()) return 0;
    return m_pCodec->FrameDuration();
}

void COggLogicalStream::ForgetEnd() {
    m_endTimeKnown = false;
    m_endTime = 0;
    m_scanWindow = -1;
}

bool COggLogicalStream::NoteEnd(LONGLONG time) {
    if (!m_endTimeKnown) {
        m_endTime = time;
        m_endTimeKnown = true;
        return true;
    }
    if (time > m_endTime) m_endTime = time;
    return false;
}

bool COggLogicalStream::NoteEndPage(int32_t window, LONGLONG time, LONGLONG others, bool* first) {
    *first = false;
    if (window != m_scanWindow) {
        m_scanWindow = window;
        m_scanPriorEnd = m_endTimeKnown ? m_endTime : -1;
        m_scanEnd = m_scanRef = -1;
        m_scanRunaway = false;
    }
    if (!SparseTimes()) {
        // Far ahead of the page before (of this stream, or of any other for its first): a runaway granule.
        const LONGLONG before = m_scanRef != -1 ? m_scanRef : others;
        if (before != -1 && time > SatAdd(before, kRunawaySpan)) {
            m_scanRunaway = true;
            return false;
        }
        // Far back: the page before was the runaway, and what it made the end is forgotten.
        if (m_scanRef != -1 && time < SatSub(m_scanRef, kRunawaySpan)) {
            m_scanRunaway = true;
            m_scanEnd = -1;
        }
    }
    m_scanRef = time;
    if (time > m_scanEnd) m_scanEnd = time;
    *first = !m_endTimeKnown;
    m_endTimeKnown = true;
    m_endTime = m_scanEnd > m_scanPriorEnd ? m_scanEnd : m_scanPriorEnd;
    return true;
}

bool COggLogicalStream::NoteClockedEnd(LONGLONG time) {
    const bool first = !m_endTimeKnown;
    m_endTimeKnown = true;
    m_endTime = time > m_scanPriorEnd ? time : m_scanPriorEnd;
    return first;
}

HRESULT COggLogicalStream::JoinChain(int32_t links) {
    m_pChain = static_cast<ChainLink*>(AllocZeroed(static_cast<size_t>(links), sizeof(ChainLink)));
    if (!m_pChain) return E_OUTOFMEMORY;
    m_cChain = links;
    m_pChain[0] = ChainLink{m_serialNo, this};
    return S_OK;
}

void COggLogicalStream::CarryInLink(int32_t link, COggLogicalStream* record) {
    m_pChain[link] = ChainLink{record->Serial(), record};
    m_lastLink = link;
    if (record->m_maxSampleSize > m_maxSampleSize) m_maxSampleSize = record->m_maxSampleSize;
}

int32_t COggLogicalStream::LinkOfSerial(uint32_t serial) const {
    if (!m_pChain) return serial == m_serialNo ? 0 : -1;
    for (int32_t k = 0; k < m_cChain; ++k)
        if (m_pChain[k].record && m_pChain[k].serial == serial) return k;
    return -1;
}
