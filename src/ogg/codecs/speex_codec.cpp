// Speex: the 80-byte Speex header (rate, channels, frame size, frames per packet, extra headers), then a
// comment packet and the extra headers; a packet lasts frames per packet times the frame size; a granule
// counts samples up to a packet's end.
#include <cstring>

#include "codec_kinds.h"
#include "comments.h"
#include "end_granule_codec.h"
#include "ogg/media_types.h"

namespace {
constexpr uint16_t kWaveFormatSpeex = 0xA109;
constexpr long kHeaderSize = 80;

class CSpeexCodec final : public CEndGranuleCodec {
public:
    CSpeexCodec() : CEndGranuleCodec(CODEC_SPEEX) {}
    ~CSpeexCodec() override {
        FreePacket(&m_header);
        for (SavedPacket& p : m_extra) FreePacket(&p);
    }

    // A decoder that starts anywhere but the stream's start converges on the full decode within 200 ms (its
    // predictors and post-filter carry state): a seek resumes that much before the target.
    LONGLONG SeekPreroll() const override { return 2000000; }

    bool Identify(const ogg_packet& p) {
        if (p.bytes < kHeaderSize) return false;
        const BYTE* h = p.packet;
        m_rate = ReadLE32(h + 36);
        m_channels = static_cast<uint16_t>(ReadLE32(h + 48));
        m_bitrate = static_cast<int32_t>(ReadLE32(h + 52));
        const uint32_t frameSize = ReadLE32(h + 56), frames = ReadLE32(h + 64);
        m_extraHeaders = static_cast<int32_t>(ReadLE32(h + 68));
        // Sizes a file can state at will: a packet of more than a second per frame, or no rate, is refused.
        if (m_rate == 0 || m_rate > 192000 || m_channels == 0 || frameSize == 0 || frameSize > m_rate || frames == 0 || frames > 64)
            return false;
        m_units = static_cast<int64_t>(frameSize) * frames;
        return SavePacket(&m_header, &p);
    }
    HeaderStep TakeHeader(const ogg_packet& p) override {
        if (m_taken == 0) m_comments.Parse(p.packet, p.bytes, 0); // the comment packet has no type byte
        if (m_taken < kMaxKept) SavePacket(&m_extra[m_taken], &p);
        ++m_taken;
        return m_taken >= 1 + (m_extraHeaders > 0 && m_extraHeaders < 16 ? m_extraHeaders : 0) ? HeaderStep::Done
                                                                                                : HeaderStep::Taken;
    }
    bool MediaType(CAMMediaType* t) override {
        const uint32_t avg = m_bitrate > 0 ? static_cast<uint32_t>(m_bitrate) / 8 : 0;
        BuildWaveFormatType(t, kWaveFormatSpeex, m_channels, m_rate, avg, 16, m_header.data, static_cast<uint32_t>(m_header.bytes));
        return true;
    }
    const char* Comment(const char* tag) override { return m_comments.Find(tag); }

    // Speex packets carry no type byte: a header is known by its bytes (the ones read during discovery).
    bool IsHeaderPacket(const BYTE* data, long bytes) const override {
        if (bytes >= 8 && std::memcmp(data, "Speex   ", 8) == 0) return true;
        for (const SavedPacket& p : m_extra)
            if (p.data && p.bytes == bytes && std::memcmp(p.data, data, static_cast<size_t>(bytes)) == 0) return true;
        return false;
    }
    int64_t Units(const BYTE*, long) const override { return m_units; }

private:
    static constexpr int kMaxKept = 4;
    SavedPacket m_header;
    SavedPacket m_extra[kMaxKept]; // the comment packet and the first extra headers
    CComments m_comments;
    uint16_t m_channels = 0;
    int32_t m_bitrate = 0;
    int32_t m_extraHeaders = 0;
    int64_t m_units = 0;
    int m_taken = 0;
};
} // namespace

COggCodec* MakeSpeexCodec(const ogg_packet& p, const CFourccMap*, bool* gaveUp) {
    if (p.bytes < 8 || std::memcmp(p.packet, "Speex   ", 8) != 0) return nullptr;
    auto* codec = new CSpeexCodec;
    if (!codec || !codec->Identify(p)) {
        delete codec;
        *gaveUp = true;
        return nullptr;
    }
    return codec;
}
