// Streams that are not media: a Skeleton track (fishead, then fisbone packets) and Kate (overlays and
// subtitles this source does not deliver). Recognised so that they get no media stream and are waited for by
// nothing: neither discovery nor the end scan.
#include <cstring>

#include "codec_kinds.h"

namespace {
class CNonMediaCodec final : public COggCodec {
public:
    explicit CNonMediaCodec(int32_t kind) : COggCodec(kind) {}
    HeaderStep TakeHeader(const ogg_packet&) override { return HeaderStep::Done; }
    bool MediaType(CAMMediaType*) override { return false; }
    bool IsMedia() const override { return false; }
    bool IsHeaderPacket(const BYTE*, long) const override { return true; }
    int64_t Units(const BYTE*, long) const override { return 0; }
    LONGLONG NextGranule(LONGLONG, int64_t, int64_t) const override { return -1; }
    LONGLONG PrevGranule(LONGLONG, int64_t, int64_t) const override { return -1; }
    Time PacketTimes(LONGLONG, int64_t, LONGLONG, LONGLONG*, LONGLONG*) const override { return Time::Skip; }
    LONGLONG GranuleTime(LONGLONG) const override { return -1; }
    bool IsKeyFrame(const BYTE*, long, bool) const override { return false; }
};
} // namespace

COggCodec* MakeNonMediaCodec(const ogg_packet& p, const CFourccMap*, bool*) {
    if (p.bytes >= 8 && std::memcmp(p.packet, "fishead\0", 8) == 0) return new CNonMediaCodec(CODEC_SKELETON);
    if (p.bytes >= 8 && std::memcmp(p.packet, "\x80kate\0\0\0", 8) == 0) return new CNonMediaCodec(CODEC_KATE);
    return nullptr;
}
