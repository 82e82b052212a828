// The OGM family: "video", "audio", "text", "directx", the DirectShow-embedded form, and a stream of a
// codec nobody knows. Data packets carry a type byte (key-frame bit 0x08, the count of length bytes in
// bits 6, 7 and 1), the length bytes, then the payload.
#include <cstring>

#include "packets.h"

namespace oggmux {

namespace {
class Bytes {
public:
    explicit Bytes(size_t size) : m_b(size, 0) {}
    void U8(size_t at, uint8_t v) { m_b[at] = v; }
    void U16(size_t at, uint32_t v) { Le(at, v, 2); }
    void U32(size_t at, uint32_t v) { Le(at, v, 4); }
    void U64(size_t at, uint64_t v) { Le(at, v, 8); }
    void Text(size_t at, const std::string& s, size_t max) { std::memcpy(&m_b[at], s.data(), std::min(s.size(), max)); }
    void Raw(size_t at, const std::vector<uint8_t>& v) {
        if (!v.empty()) std::memcpy(&m_b[at], v.data(), v.size());
    }
    // A GUID in its memory layout: three little-endian fields, then eight bytes.
    void Guid(size_t at, uint32_t d1, uint16_t d2, uint16_t d3, const uint8_t d4[8]) {
        U32(at, d1);
        U16(at + 4, d2);
        U16(at + 6, d3);
        std::memcpy(&m_b[at + 8], d4, 8);
    }
    std::vector<uint8_t>& Data() { return m_b; }

private:
    void Le(size_t at, uint64_t v, int n) {
        for (int i = 0; i < n; ++i) m_b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    std::vector<uint8_t> m_b;
};

const uint8_t kMediaTail[8] = {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
const uint8_t kFormatTail[8] = {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a};
constexpr uint32_t kVids = 0x73646976, kAuds = 0x73647561;
constexpr uint32_t kFormatVideoInfo = 0x05589f80, kFormatWaveFormatEx = 0x05589f81;

uint32_t Fourcc(const std::string& s) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(i < s.size() ? static_cast<uint8_t>(s[i]) : ' ') << (8 * i);
    return v;
}

std::string TagText(int tag) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", tag & 0xFFFF);
    return buf;
}

bool IsVideo(const StreamDescription& d) {
    return d.kind == Kind::OgmVideo || ((d.kind == Kind::DirectX || d.kind == Kind::DShow) && d.media == "video");
}

// The format block of the DirectShow forms: a VIDEOINFOHEADER or a WAVEFORMATEX with its extra data.
std::vector<uint8_t> FormatBlock(const StreamDescription& d) {
    if (IsVideo(d)) {
        Bytes b(88);
        b.U64(40, static_cast<uint64_t>(d.timeUnit * d.defaultLength / (d.samplesPerUnit ? d.samplesPerUnit : 1)));
        b.U32(48, 40);
        b.U32(52, static_cast<uint32_t>(d.width));
        b.U32(56, static_cast<uint32_t>(d.height));
        b.U16(60, 1);
        b.U16(62, static_cast<uint32_t>(d.bitsPerSample));
        b.U32(64, Fourcc(d.fourcc));
        return b.Data();
    }
    Bytes b(18 + d.extra.size());
    b.U16(0, static_cast<uint32_t>(d.formatTag));
    b.U16(2, static_cast<uint32_t>(d.channels));
    b.U32(4, static_cast<uint32_t>(d.samplesPerUnit));
    b.U32(8, static_cast<uint32_t>(d.avgBytesPerSec));
    b.U16(12, static_cast<uint32_t>(d.blockAlign));
    b.U16(14, static_cast<uint32_t>(d.bitsPerSample));
    b.U16(16, static_cast<uint32_t>(d.extra.size()));
    b.Raw(18, d.extra);
    return b.Data();
}

// DirectShow media type in its 32-bit layout (72 bytes) at offset `at`.
void MediaType(Bytes& b, size_t at, const StreamDescription& d, uint32_t formatLength) {
    bool video = IsVideo(d);
    b.Guid(at, video ? kVids : kAuds, 0, 0x10, kMediaTail);
    b.Guid(at + 16, video ? Fourcc(d.fourcc) : static_cast<uint32_t>(d.formatTag), 0, 0x10, kMediaTail);
    b.U32(at + 32, video ? 0 : 1);
    b.U32(at + 36, video ? 1 : 0);
    b.U32(at + 40, video ? 0 : static_cast<uint32_t>(d.blockAlign));
    b.Guid(at + 44, video ? kFormatVideoInfo : kFormatWaveFormatEx, 0xc356, 0x11ce, kFormatTail);
    b.U32(at + 64, formatLength);
}

// The OGM stream header (packet bytes from offset 1), preceded by the 0x01 type byte.
std::vector<uint8_t> OgmHeaderPacket(const StreamDescription& d) {
    std::vector<uint8_t> block;
    size_t size = 52;
    std::string type = d.kind == Kind::OgmAudio ? "audio" : d.kind == Kind::OgmText ? "text" : "video";
    if (d.kind == Kind::DirectX) {
        type = "directx";
        block = FormatBlock(d);
        size = 116 + block.size();
    } else if (d.kind == Kind::OgmAudio) {
        size = 52 + d.extra.size();
    }
    Bytes b(1 + size);
    b.U8(0, 0x01);
    b.Text(1, type, 8);
    b.Text(9, d.kind == Kind::OgmAudio || (d.kind == Kind::DirectX && d.media == "audio") ? TagText(d.formatTag) : d.fourcc, 4);
    b.U32(13, static_cast<uint32_t>(size));
    b.U64(17, static_cast<uint64_t>(d.timeUnit));
    b.U64(25, static_cast<uint64_t>(d.samplesPerUnit));
    b.U32(33, static_cast<uint32_t>(d.defaultLength));
    b.U32(37, static_cast<uint32_t>(d.bufferSize));
    b.U16(41, static_cast<uint32_t>(d.bitsPerSample));
    if (d.kind == Kind::OgmAudio) {
        b.U16(45, static_cast<uint32_t>(d.channels));
        b.U16(47, static_cast<uint32_t>(d.blockAlign));
        b.U32(49, static_cast<uint32_t>(d.avgBytesPerSec));
        b.Raw(53, d.extra);
    } else if (d.kind == Kind::DirectX) {
        MediaType(b, 45, d, static_cast<uint32_t>(block.size()));
        b.U32(1 + 112, 116); // the format block follows at offset 116 of the stream header
        b.Raw(1 + 116, block);
    } else {
        b.U32(45, static_cast<uint32_t>(d.width));
        b.U32(49, static_cast<uint32_t>(d.height));
    }
    return b.Data();
}

std::vector<uint8_t> DShowHeaderPacket(const StreamDescription& d) {
    std::vector<uint8_t> block = FormatBlock(d);
    Bytes b(124 + block.size());
    b.U8(0, 0x01);
    b.Text(1, "Direct Show Samples embedded in Ogg", 35);
    b.U32(40, static_cast<uint32_t>(d.bufferSize));
    MediaType(b, 52, d, static_cast<uint32_t>(block.size()));
    b.Raw(124, block);
    return b.Data();
}

MuxPacket Header(std::vector<uint8_t> bytes) {
    MuxPacket p;
    p.bytes = std::move(bytes);
    p.granule = 0;
    p.header = true;
    p.flushAfter = true;
    return p;
}

// One data packet: type byte, n length bytes holding the duration, payload.
MuxPacket DataPacket(int n, int64_t duration, bool key, const std::vector<uint8_t>& payload) {
    MuxPacket p;
    uint8_t b = static_cast<uint8_t>(((n & 3) << 6) | ((n & 4) >> 1) | (key ? 0x08 : 0));
    p.bytes.push_back(b);
    for (int i = 0; i < n; ++i) p.bytes.push_back(static_cast<uint8_t>(i < 8 ? duration >> (8 * i) : 0));
    p.payloadOffset = p.bytes.size();
    p.bytes.insert(p.bytes.end(), payload.begin(), payload.end());
    p.key = key;
    p.duration = duration;
    return p;
}

std::vector<uint8_t> Payload(Rng& rng, size_t size) {
    std::vector<uint8_t> v(size);
    for (auto& x : v) x = static_cast<uint8_t>(rng.Next());
    return v;
}

int BytesFor(int64_t v) {
    int n = 1;
    while (n < 7 && (v >> (8 * n)) != 0) ++n;
    return n;
}
} // namespace

bool MakeOgm(const StreamDescription& desc, uint64_t seed, StreamPackets* out, std::string* error) {
    StreamDescription d = desc;
    if (d.kind == Kind::DShow) { // the DirectShow form carries its timing in the media type
        if (IsVideo(d)) d.samplesPerUnit = 1;
        else d.timeUnit = 10000000;
    }
    if (d.lengthBytes < 0 || d.lengthBytes > 7) {
        *error = "length_bytes must be 0 to 7";
        return false;
    }
    out->timeUnit = d.timeUnit;
    out->samplesPerUnit = d.samplesPerUnit;
    Rng rng(seed * 0x100000001ull + d.serial);

    if (d.kind == Kind::Unknown) {
        MuxPacket h = Header({0x7F, 'U', 'N', 'K', 'N', 'O', 'W', 'N'});
        out->packets.push_back(h);
    } else {
        out->packets.push_back(Header(d.kind == Kind::DShow ? DShowHeaderPacket(d) : OgmHeaderPacket(d)));
        out->packets.push_back(Header(CommentPacket(d.comments)));
    }

    if (d.kind == Kind::OgmText) {
        std::vector<TextLine> lines = d.lines;
        if (lines.empty())
            for (int i = 0; i < d.packets; ++i) lines.push_back(TextLine{i * 2000LL, 1500, "Line " + std::to_string(i + 1)});
        for (const auto& line : lines) {
            int n = std::max(d.lengthBytes, BytesFor(line.duration));
            MuxPacket p = DataPacket(n, line.duration, true, std::vector<uint8_t>(line.text.begin(), line.text.end()));
            p.granule = line.start;
            p.time = static_cast<double>(line.start) * d.timeUnit / d.samplesPerUnit / 1e7;
            out->packets.push_back(std::move(p));
        }
        return true;
    }

    const bool video = IsVideo(d);
    const int64_t duration = d.lengthBytes > 0 ? d.packetDuration : d.defaultLength;
    for (int i = 0; i < d.packets; ++i) {
        size_t size = static_cast<size_t>(d.packetSize);
        if (size > 16) size = size - size / 16 + rng.Next() % (size / 8 + 1);
        if (d.bigPacketEvery > 0 && i % d.bigPacketEvery == d.bigPacketEvery - 1) size = static_cast<size_t>(d.bigPacketSize);
        int64_t granule = static_cast<int64_t>(i) * duration;
        MuxPacket p;
        if (d.emptyPacketEvery > 0 && i % d.emptyPacketEvery == d.emptyPacketEvery - 1) {
            p.duration = 0; // a packet of no bytes at all, not even the type byte
        } else if (d.kind == Kind::Unknown) {
            p.bytes = Payload(rng, size);
            p.bytes[0] = 0x00;
            p.key = true;
        } else {
            bool key = video ? i % std::max(1, d.keyEvery) == 0 : true;
            if (key && video && d.keySize > 0) size = static_cast<size_t>(d.keySize);
            p = DataPacket(d.lengthBytes, duration, key, Payload(rng, size));
        }
        p.granule = granule;
        p.time = d.samplesPerUnit ? static_cast<double>(granule) * d.timeUnit / d.samplesPerUnit / 1e7 : 0;
        out->packets.push_back(std::move(p));
    }
    return true;
}

} // namespace oggmux
