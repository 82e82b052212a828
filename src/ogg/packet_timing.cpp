// GetPacket: the next complete packet of the stream with its time. The codec gives each packet its length in
// granule steps; a packet without a granule position takes one from the packet before it, or, with none to
// follow (the start of a run, after a hole), is timed back from the next granule position the stream holds.
#include "ogg_stream.h"
#include "source_core.h"

bool COggStream::Follows(const ogg_packet* packet) const {
    return packet->packetno == m_lastPacketNo + 1 && !m_bNoGranuleRef;
}

namespace {
void Remember(COggStream* s, const ogg_packet* p, LONGLONG granule, int64_t units) {
    if (granule != -1) s->m_bNoGranuleRef = 0;
    s->m_lastPacketNo = p->packetno;
    s->m_lastGranule = granule;
    s->m_lastUnits = units;
}

// A header packet leaves no reference: the first data packet after the headers is timed back from the first
// granule position, as any packet that follows no timed one (so that a stream whose data does not start at
// granule 0, a cut file, is timed by its own granules).
void RememberHeader(COggStream* s, const ogg_packet* p) {
    s->m_lastPacketNo = p->packetno;
    s->m_lastGranule = -1;
    s->m_lastUnits = 0;
    s->m_bNoGranuleRef = 1;
}
} // namespace

// The packets the stream state holds after the one just taken, up to the first with a granule position
// (libogg's public lacing, granule and body fields). Worked back from that granule over their lengths.
LONGLONG COggStream::GranuleFromAhead(int64_t units) const {
    const ogg_stream_state& os = m_oggStream;
    long i = os.lacing_returned;
    long offset = os.body_returned;
    if (i >= os.lacing_packet || (os.lacing_vals[i] & 0x400)) return -1; // nothing held, or a hole ahead
    int64_t ahead[kMaxFirstUnits];
    int n = 0;
    LONGLONG granule = -1;
    while (i < os.lacing_packet && n < kMaxFirstUnits) {
        if (os.lacing_vals[i] & 0x400) return -1; // a hole between: that granule does not reach back here
        long bytes = 0, start = offset;
        while (i < os.lacing_packet && (os.lacing_vals[i] & 0xff) == 255) bytes += os.lacing_vals[i++] & 0xff;
        if (i >= os.lacing_packet) return -1; // the last packet is not complete yet
        bytes += os.lacing_vals[i] & 0xff;
        offset += bytes;
        ahead[n++] = PlayCodec()->Units(os.body_data + start, bytes);
        if (os.granule_vals[i] != -1) {
            granule = os.granule_vals[i];
            break;
        }
        ++i;
    }
    if (granule == -1) return -1;
    for (int j = n - 1; j >= 0 && granule != -1; --j) granule = PlayCodec()->PrevGranule(granule, j ? ahead[j - 1] : units, ahead[j]);
    return granule;
}

bool COggStream::GetPacket(OggPacketInfo* info) {
    for (;;) {
        ogg_packet packet;
        const int r = ogg_stream_packetout(&m_oggStream, &packet);
        if (r < 0) continue; // a gap in the pages: next packet
        if (r == 0) {
            if (!FeedPage()) return false;
            continue;
        }
        const COggCodec* codec = PlayCodec();
        if (packet.bytes < 1 || !codec) continue; // nothing to time or deliver; an unknown codec has no timing
        if (codec->IsHeaderPacket(packet.packet, packet.bytes)) {
            RememberHeader(this, &packet);
            continue;
        }
        if (!codec->Accepts(packet.packet, packet.bytes)) continue;
        const int64_t units = codec->Units(packet.packet, packet.bytes);
        const LONGLONG prev = Follows(&packet) ? m_lastGranule : -1;
        LONGLONG g = packet.granulepos;
        if (g == -1) g = prev != -1 ? codec->NextGranule(m_lastGranule, m_lastUnits, units) : GranuleFromAhead(units);
        Remember(this, &packet, g, units);
        if (g == -1) continue; // untimed: passed over
        LONGLONG start = 0, end = 0;
        const COggCodec::Time time = codec->PacketTimes(g, units, prev, &start, &end);
        if (time == COggCodec::Time::Skip) continue;
        *info = OggPacketInfo{};
        // In a chained file only the end of the stream's last link ends it.
        info->eos = packet.e_o_s != 0 && m_playLink == m_lastLink;
        const BYTE* data = packet.packet;
        long bytes = packet.bytes;
        codec->Payload(&data, &bytes);
        info->data = data;
        info->length = static_cast<LONG>(bytes);
        info->hasTime = time == COggCodec::Time::Timed;
        // Times on the presentation's timeline: they count from its origin (a later link's from its own start).
        const LONGLONG shift = SatSub(m_playShift, m_pSource->m_llOrigin);
        info->start = info->hasTime ? SatAdd(start, shift) : 0;
        info->end = info->hasTime ? SatAdd(end, shift) : 0;
        info->key = codec->IsKeyFrame(packet.packet, packet.bytes, true);
        info->granule = g;
        info->granuleDuration = static_cast<LONG>(units);
        return true;
    }
}
