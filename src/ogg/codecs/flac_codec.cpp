// FLAC in Ogg (the "\x7FFLAC" mapping): STREAMINFO from the first packet, the other metadata blocks in the
// header packets that follow; a frame's length from its frame header; a granule counts samples up to a
// frame's end.
#include <cstdlib>
#include <cstring>

#include "codec_kinds.h"
#include "comments.h"
#include "end_granule_codec.h"
#include "ogg/media_types.h"
#include "support/alloc.h"

namespace {
constexpr uint16_t kWaveFormatFlac = 0xF1AC;
// The type's user data: the FLAC stream header in its shortest form, "fLaC" and STREAMINFO marked as the last
// metadata block; Matroska's A_FLAC codec private, which Windows maps to MFAudioFormat_FLAC, is this header.
constexpr size_t kStreamHeader = 42;

class CFlacCodec final : public CEndGranuleCodec {
public:
    CFlacCodec() : CEndGranuleCodec(CODEC_FLAC) {}
    ~CFlacCodec() override { std::free(m_metadata); }

    // 0x7F "FLAC" major minor, header count (big-endian), "fLaC", then the STREAMINFO block (4 + 34 bytes).
    bool Identify(const ogg_packet& p) {
        if (p.bytes < 51 || std::memcmp(p.packet + 9, "fLaC", 4) != 0 || (p.packet[13] & 0x7F) != 0) return false;
        const BYTE* si = p.packet + 17;
        m_rate = static_cast<uint32_t>(si[10]) << 12 | static_cast<uint32_t>(si[11]) << 4 | si[12] >> 4;
        m_channels = static_cast<uint16_t>(((si[12] >> 1) & 7) + 1);
        m_bits = static_cast<uint16_t>((((si[12] & 1) << 4) | si[13] >> 4) + 1);
        m_headers = static_cast<int>(p.packet[7]) << 8 | p.packet[8];
        if (m_rate == 0) return false; // no sample rate: nothing can be timed
        Keep(p.packet + 9, kStreamHeader); // "fLaC" and STREAMINFO (the packet has them all: 51 bytes at least)
        if (m_size == kStreamHeader) m_metadata[4] |= 0x80; // the last block of this header: frames follow it
        return true;
    }
    HeaderStep TakeHeader(const ogg_packet& p) override {
        if (p.packet[0] == 0xFF) return HeaderStep::Data; // a frame's sync code: the metadata is over
        if ((p.packet[0] & 0x7F) == 4) m_comments.Parse(p.packet, p.bytes, 4); // VORBIS_COMMENT
        return m_headers > 0 && ++m_taken >= m_headers ? HeaderStep::Done : HeaderStep::Taken;
    }
    bool MediaType(CAMMediaType* t) override {
        // Rate, channels and bits per sample from STREAMINFO: what a FLAC decoder's input type states them with.
        BuildWaveFormatType(t, kWaveFormatFlac, m_channels, m_rate, 0, m_bits, m_metadata, static_cast<uint32_t>(m_size));
        return true;
    }
    CodecLimits Limits() const override {
        CodecLimits l;
        l.maxSampleSize = 65536; // a frame of 4608 samples of 8 channels of 24 bits and more fits
        return l;
    }
    const char* Comment(const char* tag) override { return m_comments.Find(tag); }

    bool IsHeaderPacket(const BYTE* data, long) const override { return data[0] != 0xFF; }
    int64_t Units(const BYTE* data, long bytes) const override { return BlockSize(data, bytes); }

private:
    // The block size a frame header gives: its code in the third byte, or 8 or 16 bits after the frame's
    // UTF-8 coded number. 0 when the header is not all there.
    static int64_t BlockSize(const BYTE* d, long n) {
        if (n < 5 || d[0] != 0xFF || (d[1] & 0xFE) != 0xF8) return 0;
        const int code = d[2] >> 4;
        if (code == 1) return 192;
        if (code >= 2 && code <= 5) return 576 << (code - 2);
        if (code >= 8) return 256 << (code - 8);
        if (code != 6 && code != 7) return 0;
        int length = 1; // the coded number's length, from its first byte's leading ones
        for (BYTE b = d[4]; (b & 0x80) && length < 8; b <<= 1) ++length;
        if (length > 1) --length;
        const long at = 4 + length;
        if (code == 6) return at < n ? d[at] + 1 : 0;
        return at + 1 < n ? (d[at] << 8 | d[at + 1]) + 1 : 0;
    }
    bool Keep(const BYTE* p, long n) {
        if (n <= 0 || m_size + static_cast<size_t>(n) > kStreamHeader) return true; // beyond the header: left out
        auto* grown = static_cast<BYTE*>(ReallocBytes(m_metadata, m_size + static_cast<size_t>(n)));
        if (!grown) return true;
        std::memcpy(grown + m_size, p, static_cast<size_t>(n));
        m_metadata = grown;
        m_size += static_cast<size_t>(n);
        return true;
    }

    BYTE* m_metadata = nullptr;
    size_t m_size = 0;
    CComments m_comments;
    uint16_t m_channels = 0, m_bits = 0;
    int m_headers = 0, m_taken = 0;
};
} // namespace

COggCodec* MakeFlacCodec(const ogg_packet& p, const CFourccMap*, bool* gaveUp) {
    if (p.bytes < 5 || p.packet[0] != 0x7F || std::memcmp(p.packet + 1, "FLAC", 4) != 0) return nullptr;
    auto* codec = new CFlacCodec;
    if (!codec || !codec->Identify(p)) {
        delete codec;
        *gaveUp = true;
        return nullptr;
    }
    return codec;
}
