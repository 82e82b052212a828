// GetPacket: the next complete packet of the stream with its time, per codec.
#include <cstring>

#include "ogg_stream.h"
#include "ogm_header.h"

bool COggStream::Follows(const ogg_packet* packet) const {
    return packet->packetno == m_lastPacketNo + 1 && !m_bNoGranuleRef;
}

namespace {
void Remember(COggStream* s, const ogg_packet* p, LONGLONG granule, LONG duration) {
    if (granule != -1) s->m_bNoGranuleRef = 0;
    s->m_lastPacketNo = p->packetno;
    s->m_lastGranule = granule;
    s->m_lastDuration = duration;
}

void RememberHeader(COggStream* s, const ogg_packet* p) {
    s->m_lastPacketNo = p->packetno;
    s->m_lastGranule = 0;
    s->m_lastDuration = 0;
    s->m_bNoGranuleRef = 0;
}
} // namespace

bool COggStream::GetPacket(OggPacketInfo* info) {
    for (;;) {
        ogg_packet packet;
        const int r = ogg_stream_packetout(&m_oggStream, &packet);
        if (r < 0) continue; // a gap in the pages: next packet
        if (r == 0) {
            if (!FeedPage()) return false;
            continue;
        }
        if (packet.bytes < 1) continue; // an empty packet has nothing to time or deliver
        *info = OggPacketInfo{};
        info->eos = packet.e_o_s != 0;
        bool produced = false;
        switch (m_codec) {
        case CODEC_VORBIS: produced = TimeVorbis(&packet, info); break;
        case CODEC_THEORA: produced = TimeTheora(&packet, info); break;
        case CODEC_OGM: produced = TimeOgm(&packet, info); break;
        default: break; // an unknown codec has no timing: its packets are passed over
        }
        if (produced) return true;
    }
}

bool COggStream::TimeVorbis(ogg_packet* p, OggPacketInfo* info) {
    if (p->packet[0] & 1) {
        RememberHeader(this, p);
        return false;
    }
    long blocksize = vorbis_packet_blocksize(&m_vorbisInfo, p);
    const LONG half = blocksize > 0 ? static_cast<LONG>(blocksize >> 1) : 0;
    LONGLONG g = p->granulepos;
    if (g == -1 && m_lastGranule != -1 && Follows(p))
        g = m_lastDuration == 0 ? m_lastGranule : m_lastGranule + (static_cast<int32_t>(m_lastDuration + half) >> 1);
    Remember(this, p, g, half);
    if (g == -1) return false;
    info->data = p->packet;
    info->length = static_cast<LONG>(p->bytes);
    info->start = info->end = ScaleGranule(g, 10000000, m_vorbisInfo.rate);
    info->hasTime = true;
    info->key = true;
    info->granule = g;
    info->granuleDuration = half;
    return true;
}

LONGLONG COggStream::AdvanceGranule(LONGLONG g, LONGLONG n) const {
    if (g < 0) return -1;
    const int s = theora_granule_shift(const_cast<theora_info*>(&m_theoraInfo));
    if (s < 0 || s > 31) return -1;
    const LONGLONG unit = 1LL << s;
    LONGLONG i = g >> s, p = g - (i << s);
    p += n;
    while (p >= unit) {
        i += unit;
        p -= unit;
    }
    while (p < 0) {
        i -= unit;
        p += unit;
    }
    if (i < 0) return -1;
    return (i << s) | p;
}

bool COggStream::LookAhead(LONG* count, LONGLONG* granule) const {
    const ogg_stream_state& os = m_oggStream;
    long i = os.lacing_returned;
    if (i >= os.lacing_packet || (os.lacing_vals[i] & 0x400)) return false;
    LONG k = 0;
    while (i < os.lacing_packet) {
        while (i < os.lacing_packet && (os.lacing_vals[i] & 0xff) == 255) ++i;
        if (i >= os.lacing_packet) return false; // the last packet is not complete yet
        ++k;
        if (os.granule_vals[i] != -1) {
            *count = k;
            *granule = os.granule_vals[i];
            return true;
        }
        ++i;
    }
    return false;
}

// The granule position of the first frame after the header packets. Streams of bitstream version 3.2.1
// and later count key frames from 1 (the first frame is granule 1 << shift, frame 0); taking the headers'
// granule 0 for it, as older streams do, made the first frame frame -1, so that the first key frame and
// its whole group were dropped at the start of every play from the beginning.
LONGLONG COggStream::FirstFrameGranule() const {
    const theora_info& ti = m_theoraInfo;
    const bool counted = ti.version_major > 3 || (ti.version_major == 3 && (ti.version_minor > 2 ||
                                                  (ti.version_minor == 2 && ti.version_subminor >= 1)));
    const int s = theora_granule_shift(const_cast<theora_info*>(&ti));
    return counted && s >= 0 && s < 32 ? 1LL << s : 0;
}

bool COggStream::TimeTheora(ogg_packet* p, OggPacketInfo* info) {
    const BYTE b = p->packet[0];
    if ((b & 0x80) || (p->bytes > 7 && b == 3 && std::memcmp(p->packet + 1, "vorbis", 6) == 0)) {
        RememberHeader(this, p);
        return false;
    }
    LONGLONG g = p->granulepos;
    if (g == -1) {
        LONG k = 0;
        LONGLONG ahead = -1;
        if (Follows(p) && m_lastDuration == 0 && m_lastGranule == 0) g = FirstFrameGranule();
        else if (Follows(p)) g = m_lastDuration == 0 ? m_lastGranule : AdvanceGranule(m_lastGranule, m_lastDuration);
        else if (LookAhead(&k, &ahead)) g = AdvanceGranule(ahead, -k);
    }
    Remember(this, p, g, 1);
    if (g == -1 || !m_theoraReady || m_theoraInfo.fps_numerator == 0) return false; // untimed
    const LONGLONG f = theora_granule_frame(&m_theoraState, g);
    if (f < 0) return false;
    const uint32_t d = static_cast<uint32_t>(static_cast<uint64_t>(m_theoraInfo.fps_denominator) * 10000000ull /
                                             m_theoraInfo.fps_numerator);
    info->data = p->packet;
    info->length = static_cast<LONG>(p->bytes);
    info->hasTime = true;
    info->key = theora_packet_iskeyframe(p) == 1;
    info->start = static_cast<LONGLONG>(d) * f;
    info->end = static_cast<LONGLONG>(d) * (f + 1);
    info->granule = g;
    info->granuleDuration = 1;
    return true;
}

bool COggStream::TimeOgm(ogg_packet* p, OggPacketInfo* info) {
    const BYTE b = p->packet[0];
    if (b & 1) {
        RememberHeader(this, p);
        return false;
    }
    const int n = (b >> 6) | ((b & 2) << 1);
    if (p->bytes < 1 + n) return false; // its length bytes are not all there: passed over
    uint32_t d = 0;
    if (n > 0) {
        for (int i = n; i >= 1; --i) d = d << 8 | p->packet[i];
    } else {
        d = static_cast<uint32_t>(ogm::DefaultLength(m_pOgmHeader));
    }
    const bool durationOk = static_cast<int32_t>(d) >= 0;
    const LONG duration = durationOk ? static_cast<LONG>(d) : 0;
    LONGLONG g = p->granulepos;
    if (g == -1 && m_lastGranule != -1 && Follows(p)) g = m_lastGranule + m_lastDuration;
    Remember(this, p, g, duration);
    if (g == -1) return false;
    const LONGLONG unit = ogm::TimeUnit(m_pOgmHeader), perUnit = ogm::SamplesPerUnit(m_pOgmHeader);
    info->data = p->packet + 1 + n;
    info->length = static_cast<LONG>(p->bytes - n - 1);
    info->key = (b & 8) != 0;
    info->hasTime = durationOk && perUnit > 0; // samples per unit of 0: the packet has no time
    info->start = info->hasTime ? ScaleGranule(g, unit, perUnit) : 0;
    info->end = info->hasTime ? ScaleGranule(g + duration, unit, perUnit) : 0;
    info->granule = g;
    info->granuleDuration = duration;
    return true;
}
