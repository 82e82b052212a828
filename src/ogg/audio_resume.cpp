#include "audio_resume.h"

#include <cstdlib>
#include <cstring>

#include "support/alloc.h"

CAudioResume::~CAudioResume() { std::free(m_buffer); }

void CAudioResume::Clear() {
    m_target = MinTime;
    m_hasKept = false;
}

void CAudioResume::Aim(LONGLONG target) {
    m_target = target;
    m_hasKept = false;
}

bool CAudioResume::Skip(const OggPacketInfo& packet, const COggCodec* codec) {
    if (m_target == MinTime || !packet.hasTime || !codec) return false;
    // Times of audio packets are their ends (Vorbis: start and end are both the end): one that ends at or before
    // the point holds none of the audio from there on.
    const LONGLONG from = SatSub(m_target, codec->SeekPreroll());
    if (packet.end <= from) {
        if (codec->NeedsPacketBefore()) Keep(packet);
        return true;
    }
    m_target = MinTime; // found: the packets from here on are delivered
    return false;
}

void CAudioResume::Keep(const OggPacketInfo& packet) {
    m_hasKept = false;
    const auto bytes = static_cast<size_t>(packet.length > 0 ? packet.length : 0);
    if (bytes > m_capacity) {
        auto* grown = static_cast<BYTE*>(ReallocBytes(m_buffer, bytes));
        if (!grown) return; // no memory: the resumption starts at the target's packet without it
        m_buffer = grown;
        m_capacity = bytes;
    }
    if (bytes) std::memcpy(m_buffer, packet.data, bytes);
    m_kept = packet;
    m_kept.data = m_buffer;
    m_hasKept = true;
}

bool CAudioResume::TakeKept(OggPacketInfo* packet) {
    if (!m_hasKept) return false;
    m_hasKept = false;
    *packet = m_kept;
    return true;
}
