// FLAC in Ogg without an encoder: the mapping's first packet (with STREAMINFO), a VORBIS_COMMENT block and
// the padding blocks asked for, then frames of mixed block sizes (coded in the header's table, and as 8- and
// 16-bit values after the sample number) with random bytes after their headers. Variable block size coding:
// each header carries its first sample's number, UTF-8 coded. Granules count samples at each frame's end.
#include "packets.h"

namespace oggmux {

namespace {
uint8_t Crc8(const std::vector<uint8_t>& v) {
    uint8_t crc = 0;
    for (uint8_t b : v) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// FLAC's UTF-8-like coding of a number of up to 36 bits.
void PutCoded(std::vector<uint8_t>* v, uint64_t x) {
    if (x < 0x80) {
        v->push_back(static_cast<uint8_t>(x));
        return;
    }
    int n = 2;
    while (n < 7 && x >= (1ull << (5 * n + 1))) ++n;
    v->push_back(static_cast<uint8_t>((0xFF00 >> n) | (x >> (6 * (n - 1)))));
    for (int i = n - 2; i >= 0; --i) v->push_back(static_cast<uint8_t>(0x80 | ((x >> (6 * i)) & 0x3F)));
}

std::vector<uint8_t> Frame(uint64_t first, int blockSize, int channels, Rng* rng, int payload) {
    std::vector<uint8_t> h = {0xFF, 0xF9}; // variable block size
    int code = 0;
    if (blockSize == 192) code = 1;
    for (int k = 2; k <= 5; ++k)
        if (blockSize == 576 << (k - 2)) code = k;
    for (int k = 8; k <= 15; ++k)
        if (blockSize == 256 << (k - 8)) code = k;
    if (!code) code = blockSize <= 256 ? 6 : 7;
    h.push_back(static_cast<uint8_t>(code << 4 | 0)); // the rate from STREAMINFO
    h.push_back(static_cast<uint8_t>((channels - 1) << 4 | 4 << 1)); // 16 bits per sample
    PutCoded(&h, first);
    if (code == 6) h.push_back(static_cast<uint8_t>(blockSize - 1));
    if (code == 7) PutBE(&h, static_cast<uint64_t>(blockSize - 1), 2);
    h.push_back(Crc8(h));
    for (int b = 0; b < payload; ++b) h.push_back(static_cast<uint8_t>(rng->Next()));
    return h;
}
} // namespace

bool MakeFlac(const StreamDescription& d, StreamPackets* out, std::string* error) {
    if (d.channels < 1 || d.channels > 8 || d.rate < 1 || d.rate >= (1 << 20) || d.extraHeaders < 0 || d.extraHeaders > 8) {
        *error = "flac: 1..8 channels, a rate below 2^20 and 0..8 extra (padding) blocks";
        return false;
    }
    MuxPacket first;
    first.bytes = {0x7F, 'F', 'L', 'A', 'C', 1, 0};
    PutBE(&first.bytes, static_cast<uint64_t>(1 + d.extraHeaders), 2);
    for (char c : std::string("fLaC")) first.bytes.push_back(static_cast<uint8_t>(c));
    first.bytes.insert(first.bytes.end(), {0, 0, 0, 34}); // STREAMINFO, not the last block
    PutBE(&first.bytes, 192, 2);
    PutBE(&first.bytes, 4608, 2);
    PutBE(&first.bytes, 0, 3);
    PutBE(&first.bytes, 0, 3);
    const uint64_t total = static_cast<uint64_t>(d.seconds * d.rate);
    // rate (20 bits), channels - 1 (3), bits - 1 (5), total samples (36)
    const uint64_t packed = static_cast<uint64_t>(d.rate) << 44 | static_cast<uint64_t>(d.channels - 1) << 41 |
                            static_cast<uint64_t>(d.bits - 1) << 36 | (total & 0xFFFFFFFFFull);
    PutBE(&first.bytes, packed, 8);
    first.bytes.insert(first.bytes.end(), 16, 0); // MD5 unknown
    out->packets.push_back(first);
    MuxPacket comment;
    const std::vector<uint8_t> list = CommentList(d.comments);
    comment.bytes.push_back(static_cast<uint8_t>(4 | (d.extraHeaders == 0 ? 0x80 : 0)));
    PutBE(&comment.bytes, list.size(), 3);
    comment.bytes.insert(comment.bytes.end(), list.begin(), list.end());
    out->packets.push_back(comment);
    for (int i = 0; i < d.extraHeaders; ++i) {
        MuxPacket padding;
        padding.bytes.push_back(static_cast<uint8_t>(1 | (i + 1 == d.extraHeaders ? 0x80 : 0)));
        PutBE(&padding.bytes, 100, 3);
        padding.bytes.insert(padding.bytes.end(), 100, 0);
        out->packets.push_back(padding);
    }
    for (MuxPacket& p : out->packets) {
        p.header = true;
        p.granule = 0;
        p.flushAfter = true;
    }
    const int sizes[] = {4096, 1152, 192, 4608, 200, 1000, 2304, 256};
    Rng rng(d.serial * 11 + 5);
    uint64_t at = 0;
    for (int i = 0; at < total; ++i) {
        int n = sizes[i % 8];
        MuxPacket p;
        p.bytes = Frame(at, n, d.channels, &rng, d.packetSize / 2 + static_cast<int>(rng.Next() % 100));
        at += static_cast<uint64_t>(n);
        p.duration = n;
        p.granule = static_cast<int64_t>(at);
        p.time = static_cast<double>(at) / d.rate;
        p.key = true;
        out->packets.push_back(std::move(p));
    }
    return true;
}

} // namespace oggmux
