// The audio codecs whose granule counts samples up to a packet's end at one rate (Opus, FLAC, Speex): a packet
// starts where the one before it ended (the last may be trimmed short of its length), every packet stands alone.
#pragma once
#include "codec.h"

class CEndGranuleCodec : public COggCodec {
public:
    LONGLONG NextGranule(LONGLONG g, int64_t, int64_t units) const override { return SatAdd(g, units); }
    LONGLONG PrevGranule(LONGLONG g, int64_t, int64_t units) const override { return SatSub(g, units); }
    Time PacketTimes(LONGLONG g, int64_t units, LONGLONG prev, LONGLONG* start, LONGLONG* end) const override {
        *start = GranuleTime(prev >= 0 ? prev : SatSub(g, units));
        *end = GranuleTime(g);
        return Time::Timed;
    }
    // Samples less the ones the stream skips at its start (Opus's pre-skip), at the stream's rate.
    LONGLONG GranuleTime(LONGLONG g) const override { return m_rate ? ScaleGranule(SatSub(g, m_skip), 10000000, m_rate) : -1; }
    bool IsKeyFrame(const BYTE*, long, bool) const override { return true; }

protected:
    explicit CEndGranuleCodec(int32_t kind) : COggCodec(kind) {}
    uint32_t m_rate = 0;
    LONGLONG m_skip = 0;
};
