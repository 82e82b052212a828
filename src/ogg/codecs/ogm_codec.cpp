// The OGM family: "video", "audio", "text" and "directx" stream headers, and the older DirectShow-embedded
// form converted into an OGM header. Packets carry their duration in length bytes after a type byte; a
// packet's granule is its start in the header's time units.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vorbis/codec.h>

#include "codec_kinds.h"
#include "ogg/media_types.h"
#include "ogg/ogm_header.h"
#include "support/alloc.h"

namespace {
const char kDirectShowText[] = "Direct Show Samples embedded in Ogg"; // 35 characters
constexpr uint32_t kMaxSampleBuffer = 64u << 20; // sample buffers are capped: a header may ask for anything

// The number of length bytes a data packet's type byte announces (0 to 7).
int LengthBytes(BYTE b) { return (b >> 6) | ((b & 2) << 1); }

class COgmCodec final : public COggCodec {
public:
    COgmCodec(BYTE* header, size_t size) : COggCodec(CODEC_OGM), m_header(header), m_size(size) {
        vorbis_info_init(&m_info);
        vorbis_comment_init(&m_comment);
        m_info.rate = 1; // libvorbis reads an OGM comment header (Vorbis comment form) only with a rate set
    }
    ~COgmCodec() override {
        std::free(m_header);
        FreePacket(&m_commentPacket);
        vorbis_info_clear(&m_info);
        vorbis_comment_clear(&m_comment);
    }

    bool Build(const CFourccMap* settings) {
        m_limits.maxSampleSize = 0;
        const int32_t buffer = ogm::BufferSize(m_header);
        m_limits.maxSampleSize = buffer <= 0 ? 0 : static_cast<uint32_t>(buffer) > kMaxSampleBuffer ? kMaxSampleBuffer
                                                                                                     : static_cast<uint32_t>(buffer);
        return BuildOgmMediaType(settings, m_header, m_size, &m_type, &m_limits.queueHigh, &m_limits.queueLow);
    }
    bool IsType(const char* type) const { return ogm::TypeIs(m_header, type); }
    const char* OgmType() const override {
        for (const char* type : {"video", "audio", "text", "directx"})
            if (IsType(type)) return type;
        return nullptr;
    }

    HeaderStep TakeHeader(const ogg_packet& p) override {
        const BYTE b = p.packet[0];
        if (!(b & 1)) return HeaderStep::Data; // OGM headers end at the first data packet
        if ((b & 7) == 3) {
            vorbis_synthesis_headerin(&m_info, &m_comment, const_cast<ogg_packet*>(&p)); // result not used
            SavePacket(&m_commentPacket, &p);
        }
        return HeaderStep::Taken;
    }
    void TakeLateHeader(const ogg_packet& p) override {
        if ((p.packet[0] & 7) == 3 && vorbis_synthesis_headerin(&m_info, &m_comment, const_cast<ogg_packet*>(&p)) == 0)
            SavePacket(&m_commentPacket, &p);
    }
    bool MediaType(CAMMediaType* t) override {
        if (FAILED(t->Set(m_type))) t->Clear(); // no memory for the copy: no media type
        return true;
    }
    CodecLimits Limits() const override { return m_limits; }
    const char* Comment(const char* tag) override {
        return vorbis_comment_query(&m_comment, tag, 0);
    }

    bool IsHeaderPacket(const BYTE* data, long) const override { return data[0] & 1; }
    bool Accepts(const BYTE* data, long bytes) const override { return bytes >= 1 + LengthBytes(data[0]); }
    // The duration: the length bytes (little-endian; only the last four read survive), else the header's default.
    int64_t Units(const BYTE* data, long bytes) const override {
        if (bytes < 1) return 0; // an empty packet has no type byte
        const int n = LengthBytes(data[0]);
        if (bytes < 1 + n) return 0;
        uint32_t d = 0;
        if (n > 0) {
            for (int i = n; i >= 1; --i) d = d << 8 | data[i];
        } else {
            d = static_cast<uint32_t>(ogm::DefaultLength(m_header));
        }
        return static_cast<int32_t>(d); // negative: the packet has no time
    }
    LONGLONG NextGranule(LONGLONG g, int64_t prevUnits, int64_t) const override { return SatAdd(g, Clamped(prevUnits)); }
    LONGLONG PrevGranule(LONGLONG g, int64_t prevUnits, int64_t) const override { return SatSub(g, Clamped(prevUnits)); }
    Time PacketTimes(LONGLONG g, int64_t units, LONGLONG, LONGLONG* start, LONGLONG* end) const override {
        const LONGLONG unit = ogm::TimeUnit(m_header), perUnit = ogm::SamplesPerUnit(m_header);
        if (units < 0 || perUnit <= 0) return Time::Untimed; // samples per unit of 0: the packet has no time
        *start = ScaleGranule(g, unit, perUnit);
        *end = ScaleGranule(SatAdd(g, units), unit, perUnit);
        return Time::Timed;
    }
    // Samples per unit of 0 would divide by zero: such a stream's packets have no time.
    LONGLONG GranuleTime(LONGLONG g) const override {
        return ScaleGranule(g, ogm::TimeUnit(m_header), ogm::SamplesPerUnit(m_header));
    }
    bool IsKeyFrame(const BYTE* data, long, bool granuleKnown) const override { return granuleKnown && (data[0] & 8); }
    void Payload(const BYTE** data, long* bytes) const override {
        const int n = LengthBytes((*data)[0]);
        *data += 1 + n;
        *bytes -= 1 + n;
    }
    bool WantsStartSample() const override { return IsType("text"); }

    LONGLONG FrameDuration() const override {
        if (!IsEqualGUID(m_type.majortype, MEDIATYPE_Video)) return 0;
        if (IsType("video")) return ogm::TimeUnit(m_header);
        if (IsType("directx") && ((IsEqualGUID(m_type.formattype, FORMAT_VideoInfo) && m_type.cbFormat >= 88) ||
                                  (IsEqualGUID(m_type.formattype, FORMAT_VideoInfo2) && m_type.cbFormat >= 112)))
            return ReadLE64(m_type.pbFormat + 40);
        return 0;
    }

private:
    static LONGLONG Clamped(int64_t units) { return units > 0 ? units : 0; }

    BYTE* m_header;
    size_t m_size;
    CAMMediaType m_type;
    CodecLimits m_limits;
    vorbis_info m_info;
    vorbis_comment m_comment;
    SavedPacket m_commentPacket;
};

// An OGM header in the packet (after its type byte): a copy of `size` bytes, or null when the header is
// shorter than its fixed fields or its size field is below them or beyond the packet.
BYTE* CopyOgmHeader(const ogg_packet& p, size_t* size) {
    const long n = p.bytes;
    const int32_t declared = n >= 17 ? static_cast<int32_t>(ReadLE32(p.packet + 13)) : 0;
    if (n < 1 + static_cast<long>(ogm::kMinSize) || declared < static_cast<int32_t>(ogm::kMinSize) || declared > n - 1)
        return nullptr;
    *size = static_cast<size_t>(declared);
    auto* header = static_cast<BYTE*>(AllocBytes(*size));
    if (header) std::memcpy(header, p.packet + 1, *size);
    return header;
}

bool IsOgmHeader(const ogg_packet& p) {
    const BYTE* q = p.packet + 1;
    const long n = p.bytes;
    return (n >= 6 && (std::memcmp(q, "video", 5) == 0 || std::memcmp(q, "audio", 5) == 0)) ||
           (n >= 5 && std::memcmp(q, "text", 4) == 0) || (n >= 8 && std::memcmp(q, "directx", 7) == 0);
}
} // namespace

COggCodec* MakeOgmCodec(const ogg_packet& p, const CFourccMap* settings, bool* gaveUp) {
    if ((p.packet[0] & 7) != 1 || (p.packet[0] & 0x80)) return nullptr;
    BYTE* header = nullptr;
    size_t size = 0;
    if (p.bytes >= 36 && std::memcmp(p.packet + 1, kDirectShowText, 35) == 0) {
        if (ConvertDirectShowHeader(&p, &header, &size) != 0) {
            *gaveUp = true; // neither video nor audio: libvorbis would refuse the packet as well
            return nullptr;
        }
    } else if (IsOgmHeader(p)) {
        header = CopyOgmHeader(p, &size);
        if (!header) {
            *gaveUp = true;
            return nullptr;
        }
    } else {
        return nullptr;
    }
    auto* codec = new COgmCodec(header, size);
    if (!codec) {
        std::free(header);
        *gaveUp = true; // no memory for the record: the stream cannot be described
        return nullptr;
    }
    if (!codec->Build(settings)) {
        delete codec;
        *gaveUp = true;
        return nullptr;
    }
    return codec;
}

int ConvertDirectShowHeader(const ogg_packet* packet, BYTE** out, size_t* outSize) {
    *out = nullptr;
    *outSize = 0;
    const BYTE* p = packet->packet;
    const long n = packet->bytes;
    constexpr uint32_t kFormatVideoInfo = 0x05589F80, kFormatWaveFormatEx = 0x05589F81;
    // Fields are read at fixed offsets: a packet too short for them is refused, never read past its end.
    if (n < 124 || (p[0] & 7) != 1) return 1;
    const uint32_t format = ReadLE32(p + 96);
    if (format == kFormatVideoInfo) {
        if (n < 188) return 1;
        BYTE* h = static_cast<BYTE*>(AllocZeroed(1, 120));
        if (!h) return 1;
        std::memcpy(h + ogm::kType, "video", 5);
        std::memcpy(h + ogm::kSubtype, p + 68, 4);
        WriteLE32(h + ogm::kSize, 52);
        std::memcpy(h + ogm::kTimeUnit, p + 164, 8);
        WriteLE64(h + ogm::kSamplesPerUnit, 1);
        WriteLE32(h + ogm::kDefaultLength, 1);
        std::memcpy(h + ogm::kBufferSize, p + 40, 4);
        std::memcpy(h + ogm::kBitsPerSample, p + 186, 2);
        std::memcpy(h + ogm::kWidth, p + 176, 4);
        std::memcpy(h + ogm::kHeight, p + 180, 4);
        *out = h;
        *outSize = 120;
        return 0;
    }
    if (format == kFormatWaveFormatEx) {
        if (n < 142) return 1;
        const uint32_t extra = ReadLE16(p + 140);
        if (n < 142 + static_cast<long>(extra)) return 1;
        BYTE* h = static_cast<BYTE*>(AllocZeroed(1, 120 + extra));
        if (!h) return 1;
        char tag[8];
        std::snprintf(tag, sizeof tag, "%04x", ReadLE16(p + 124));
        std::memcpy(h + ogm::kType, "audio", 5);
        std::memcpy(h + ogm::kSubtype, tag, 4);
        WriteLE32(h + ogm::kSize, 52 + extra);
        WriteLE64(h + ogm::kTimeUnit, 10000000);
        WriteLE64(h + ogm::kSamplesPerUnit, ReadLE32(p + 128));
        WriteLE32(h + ogm::kDefaultLength, 1);
        std::memcpy(h + ogm::kBufferSize, p + 40, 4);
        std::memcpy(h + ogm::kBitsPerSample, p + 138, 2);
        std::memcpy(h + ogm::kChannels, p + 126, 2);
        std::memcpy(h + ogm::kBlockAlign, p + 136, 2);
        std::memcpy(h + ogm::kAvgBytesPerSec, p + 132, 4);
        if (extra) std::memcpy(h + ogm::kExtra, p + 142, extra);
        *out = h;
        *outSize = 120 + extra;
        return 0;
    }
    return 1;
}
