// Where audio resumes after a seek: with the packet that holds the target, less the codec's pre-roll time (Opus),
// and the one packet before it whose overlap the codec needs to decode it (Vorbis). The packets of the page read
// first that end before that are not delivered; the last one passed over is kept (copied: its bytes live in libogg's
// buffer only until the next page) in case the codec needs it.
#pragma once
#include "codecs/codec.h"
#include "packet_clock.h"

class CAudioResume {
public:
    CAudioResume() = default;
    ~CAudioResume();
    CAudioResume(const CAudioResume&) = delete;
    CAudioResume& operator=(const CAudioResume&) = delete;

    // A run from the start, or of a stream that is no audio: every packet is delivered.
    void Clear();
    // A seek to `target` on the presentation's timeline.
    void Aim(LONGLONG target);
    // Whether a packet is passed over: it ends at or before where the codec must resume.
    bool Skip(const OggPacketInfo& packet, const COggCodec* codec);
    // The packet kept for the one that holds the target, once (valid until the next call).
    bool TakeKept(OggPacketInfo* packet);

private:
    void Keep(const OggPacketInfo& packet);

    LONGLONG m_target = MinTime;
    OggPacketInfo m_kept{};
    bool m_hasKept = false;
    BYTE* m_buffer = nullptr;
    size_t m_capacity = 0;
};
