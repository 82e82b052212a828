// Speex without an encoder: the 80-byte header, the comment packet and the extra headers asked for, then
// packets of random bytes (frames per packet times the frame size each). Granules count samples at each
// packet's end.
#include "packets.h"

namespace oggmux {

bool MakeSpeex(const StreamDescription& d, StreamPackets* out, std::string* error) {
    if (d.channels < 1 || d.channels > 2 || d.rate < 1 || d.frameSize < 1 || d.framesPerPacket < 1 || d.extraHeaders < 0 ||
        d.extraHeaders > 8) {
        *error = "speex: 1 or 2 channels, a rate, a frame size, frames per packet and 0..8 extra headers";
        return false;
    }
    MuxPacket head;
    const std::string magic = "Speex   ", version = "1.2.1";
    head.bytes.assign(magic.begin(), magic.end());
    head.bytes.insert(head.bytes.end(), version.begin(), version.end());
    head.bytes.resize(28, 0);
    PutLE(&head.bytes, 1, 4);  // version id
    PutLE(&head.bytes, 80, 4); // header size
    PutLE(&head.bytes, static_cast<uint64_t>(d.rate), 4);
    PutLE(&head.bytes, d.rate > 12500 ? 1 : 0, 4); // mode
    PutLE(&head.bytes, 4, 4);  // mode bitstream version
    PutLE(&head.bytes, static_cast<uint64_t>(d.channels), 4);
    PutLE(&head.bytes, static_cast<uint64_t>(d.packetSize * 8 * d.rate / (d.frameSize * d.framesPerPacket)), 4);
    PutLE(&head.bytes, static_cast<uint64_t>(d.frameSize), 4);
    PutLE(&head.bytes, 0, 4); // vbr
    PutLE(&head.bytes, static_cast<uint64_t>(d.framesPerPacket), 4);
    PutLE(&head.bytes, static_cast<uint64_t>(d.extraHeaders), 4);
    PutLE(&head.bytes, 0, 8); // reserved
    out->packets.push_back(head);
    MuxPacket comment;
    comment.bytes = CommentList(d.comments);
    out->packets.push_back(comment);
    for (int i = 0; i < d.extraHeaders; ++i) {
        MuxPacket extra;
        const std::string text = "extra header " + std::to_string(i);
        extra.bytes.assign(text.begin(), text.end());
        out->packets.push_back(extra);
    }
    for (MuxPacket& p : out->packets) {
        p.header = true;
        p.granule = 0;
        p.flushAfter = true;
    }
    Rng rng(d.serial * 13 + 7);
    const int64_t total = static_cast<int64_t>(d.seconds * d.rate), each = static_cast<int64_t>(d.frameSize) * d.framesPerPacket;
    for (int64_t at = 0; at < total;) {
        MuxPacket p;
        const int size = d.packetSize / 2 + static_cast<int>(rng.Next() % 20);
        for (int b = 0; b < size; ++b) p.bytes.push_back(static_cast<uint8_t>(rng.Next()));
        if (p.bytes[0] == 'S') p.bytes[0] = 'T'; // never "Speex   "
        at += each;
        p.duration = each;
        p.granule = at;
        p.time = static_cast<double>(at) / d.rate;
        p.key = true;
        out->packets.push_back(std::move(p));
    }
    return true;
}

} // namespace oggmux
