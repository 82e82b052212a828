// Opus (RFC 7845): the OpusHead identification header and OpusTags; packet durations from the TOC byte
// through libopus's packet helpers (no decoding); a granule counts 48 kHz samples up to a packet's end, less
// the pre-skip.
#include <cstring>
#include <opus/opus.h>

#include "codec_kinds.h"
#include "comments.h"
#include "end_granule_codec.h"
#include "ogg/media_types.h"

namespace {
constexpr uint16_t kWaveFormatOpus = 0x704F;
constexpr LONGLONG kPreroll = 800000; // 80 ms: what a decoder needs before the target after a seek (RFC 7845)

class COpusCodec final : public CEndGranuleCodec {
public:
    COpusCodec() : CEndGranuleCodec(CODEC_OPUS) { m_rate = 48000; }
    ~COpusCodec() override { FreePacket(&m_head); }

    bool Identify(const ogg_packet& p) {
        if (p.bytes < 19 || (p.packet[8] & 0xF0) != 0 || p.packet[9] == 0) return false; // a version we read, channels
        m_channels = p.packet[9];
        m_skip = ReadLE16(p.packet + 10); // the pre-skip
        return SavePacket(&m_head, &p);
    }
    HeaderStep TakeHeader(const ogg_packet& p) override {
        if (p.bytes >= 8 && std::memcmp(p.packet, "OpusTags", 8) == 0) {
            m_comments.Parse(p.packet, p.bytes, 8);
            return HeaderStep::Done;
        }
        return HeaderStep::Data;
    }
    bool MediaType(CAMMediaType* t) override {
        // OpusHead whole as the user data (pre-skip, gain, channel mapping): Matroska's A_OPUS codec private, which
        // Windows maps to MFAudioFormat_Opus, is that header; the rate is the decoder's 48 kHz, not the header's
        // input rate (which only says what the encoder was given).
        BuildWaveFormatType(t, kWaveFormatOpus, m_channels, 48000, 0, 0, m_head.data, static_cast<uint32_t>(m_head.bytes));
        return true;
    }
    CodecLimits Limits() const override {
        CodecLimits l;
        l.maxSampleSize = 1275 * 6 * (m_channels > 2 ? m_channels : 2); // the largest packet: 120 ms of 1275-byte frames per stream
        return l;
    }
    const char* Comment(const char* tag) override { return m_comments.Find(tag); }

    bool IsHeaderPacket(const BYTE* data, long bytes) const override {
        return bytes >= 8 && (std::memcmp(data, "OpusHead", 8) == 0 || std::memcmp(data, "OpusTags", 8) == 0);
    }
    int64_t Units(const BYTE* data, long bytes) const override {
        const int n = bytes > 0 ? opus_packet_get_nb_samples(data, static_cast<opus_int32>(bytes), 48000) : 0;
        return n > 0 ? n : 0; // a packet libopus cannot read lasts nothing
    }
    LONGLONG SeekPreroll() const override { return kPreroll; }

private:
    SavedPacket m_head;
    CComments m_comments;
    uint16_t m_channels = 0;
};
} // namespace

COggCodec* MakeOpusCodec(const ogg_packet& p, const CFourccMap*, bool* gaveUp) {
    if (p.bytes < 8 || std::memcmp(p.packet, "OpusHead", 8) != 0) return nullptr;
    auto* codec = new COpusCodec;
    if (!codec || !codec->Identify(p)) {
        delete codec;
        *gaveUp = true;
        return nullptr;
    }
    return codec;
}
