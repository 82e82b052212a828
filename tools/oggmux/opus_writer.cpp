// Opus without an encoder: OpusHead, OpusTags, and packets whose TOC bytes give them their durations (one
// 20 ms frame, one 10 ms frame, two 20 ms frames, three 20 ms frames behind a frame count byte), with random
// bytes after. Granules count 48 kHz samples at each packet's end plus the pre-skip; the last may cut the end.
#include "packets.h"

namespace oggmux {

void PutLE(std::vector<uint8_t>* v, uint64_t x, int bytes) {
    for (int i = 0; i < bytes; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void PutBE(std::vector<uint8_t>* v, uint64_t x, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

std::vector<uint8_t> CommentList(const std::vector<std::string>& comments) {
    std::vector<uint8_t> v;
    const std::string vendor = "oggmux";
    PutLE(&v, vendor.size(), 4);
    v.insert(v.end(), vendor.begin(), vendor.end());
    PutLE(&v, comments.size(), 4);
    for (const auto& c : comments) {
        PutLE(&v, c.size(), 4);
        v.insert(v.end(), c.begin(), c.end());
    }
    return v;
}

bool MakeOpus(const StreamDescription& d, StreamPackets* out, std::string* error) {
    if (d.channels < 1 || d.channels > 2 || d.preskip < 0 || d.preskip > 65535 || d.trim < 0) {
        *error = "opus: 1 or 2 channels, a pre-skip of 0..65535 and a trim of 0 or more";
        return false;
    }
    MuxPacket head;
    const std::string magic = "OpusHead";
    head.bytes.assign(magic.begin(), magic.end());
    head.bytes.push_back(1);
    head.bytes.push_back(static_cast<uint8_t>(d.channels));
    PutLE(&head.bytes, static_cast<uint64_t>(d.preskip), 2);
    PutLE(&head.bytes, static_cast<uint64_t>(d.rate), 4);
    PutLE(&head.bytes, 0, 2); // output gain
    head.bytes.push_back(0);  // channel mapping family 0
    MuxPacket tags;
    const std::string tagMagic = "OpusTags";
    tags.bytes.assign(tagMagic.begin(), tagMagic.end());
    const std::vector<uint8_t> list = CommentList(d.comments);
    tags.bytes.insert(tags.bytes.end(), list.begin(), list.end());
    for (MuxPacket* p : {&head, &tags}) {
        p->header = true;
        p->granule = 0;
        p->flushAfter = true;
        out->packets.push_back(*p);
    }
    // CELT fullband 20 ms is config 31, 10 ms config 30; the stereo bit follows the channels.
    const uint8_t stereo = d.channels == 2 ? 0x04 : 0;
    const struct {
        uint8_t toc;
        int frames;   // for code 3: the count byte
        int samples;
    } layouts[] = {{static_cast<uint8_t>(31 << 3 | stereo), 0, 960},
                   {static_cast<uint8_t>(30 << 3 | stereo), 0, 480},
                   {static_cast<uint8_t>(31 << 3 | stereo | 1), 0, 1920},
                   {static_cast<uint8_t>(31 << 3 | stereo | 3), 3, 2880}};
    Rng rng(d.serial * 7 + 3);
    const int64_t total = static_cast<int64_t>(d.seconds * 48000);
    int64_t at = 0;
    for (int i = 0; at < total; ++i) {
        const auto& l = layouts[i % 4];
        MuxPacket p;
        p.bytes.push_back(l.toc);
        if (l.frames) p.bytes.push_back(static_cast<uint8_t>(l.frames)); // CBR, no padding
        const int size = d.packetSize / 4 + static_cast<int>(rng.Next() % 40);
        for (int b = 0; b < size; ++b) p.bytes.push_back(static_cast<uint8_t>(rng.Next()));
        if ((p.bytes.size() - (l.frames ? 2 : 1)) % 2 && (l.toc & 3) == 1) p.bytes.push_back(0); // two equal frames
        if (l.frames) while ((p.bytes.size() - 2) % 3) p.bytes.push_back(0);                      // three equal frames
        at += l.samples;
        p.duration = l.samples;
        p.granule = at + d.preskip;
        p.time = static_cast<double>(at) / 48000;
        p.key = true;
        out->packets.push_back(std::move(p));
    }
    MuxPacket& last = out->packets.back();
    if (d.trim >= last.duration) {
        *error = "opus: the trim must be shorter than the last packet";
        return false;
    }
    last.granule -= d.trim;
    return true;
}

} // namespace oggmux
