// A Skeleton 3.0 track: the fishead, a fisbone for each other stream of the file (its serial, header count,
// granule rate and content type), and an empty last packet; every page of it comes before the data.
#include "packets.h"

namespace oggmux {

namespace {
struct Bone {
    int64_t rateNum = 0, rateDen = 1;
    uint32_t headers = 0;
    const char* type = "";
};

Bone BoneOf(const StreamDescription& s) {
    switch (s.kind) {
    case Kind::Vorbis: return {s.rate, 1, 3, "audio/vorbis"};
    case Kind::Theora: return {s.fpsNum, s.fpsDen ? s.fpsDen : 1, 3, "video/theora"};
    case Kind::Opus: return {48000, 1, 2, "audio/opus"};
    case Kind::Flac: return {s.rate, 1, static_cast<uint32_t>(2 + s.extraHeaders), "audio/flac"};
    case Kind::Speex: return {s.rate, 1, static_cast<uint32_t>(2 + s.extraHeaders), "audio/speex"};
    default: return {10000000, s.timeUnit ? s.timeUnit : 1, 2, "application/x-ogm"};
    }
}
} // namespace

bool MakeSkeleton(const StreamDescription& d, const std::vector<StreamDescription>& all, StreamPackets* out,
                  std::string*) {
    MuxPacket head;
    for (char c : std::string("fishead")) head.bytes.push_back(static_cast<uint8_t>(c));
    head.bytes.push_back(0);
    PutLE(&head.bytes, 3, 2);
    PutLE(&head.bytes, 0, 2);
    PutLE(&head.bytes, 0, 8); // presentation time 0/1000
    PutLE(&head.bytes, 1000, 8);
    PutLE(&head.bytes, 0, 8); // base time 0/1000
    PutLE(&head.bytes, 1000, 8);
    head.bytes.resize(64, 0); // UTC
    out->packets.push_back(head);
    for (const StreamDescription& s : all) {
        if (s.kind == Kind::Skeleton) continue;
        const Bone b = BoneOf(s);
        MuxPacket bone;
        for (char c : std::string("fisbone")) bone.bytes.push_back(static_cast<uint8_t>(c));
        bone.bytes.push_back(0);
        PutLE(&bone.bytes, 44, 4); // where the message headers begin, from the offset field
        PutLE(&bone.bytes, s.serial, 4);
        PutLE(&bone.bytes, b.headers, 4);
        PutLE(&bone.bytes, static_cast<uint64_t>(b.rateNum), 8);
        PutLE(&bone.bytes, static_cast<uint64_t>(b.rateDen), 8);
        PutLE(&bone.bytes, 0, 8); // base granule
        PutLE(&bone.bytes, 0, 4); // preroll
        bone.bytes.push_back(s.kind == Kind::Theora ? 6 : 0);
        bone.bytes.insert(bone.bytes.end(), 3, 0);
        const std::string message = std::string("Content-Type: ") + b.type + "\r\n";
        bone.bytes.insert(bone.bytes.end(), message.begin(), message.end());
        out->packets.push_back(bone);
    }
    out->packets.push_back(MuxPacket{}); // the end of the track: an empty packet
    for (MuxPacket& p : out->packets) {
        p.header = true;
        p.granule = 0;
        p.flushAfter = true;
    }
    (void)d;
    return true;
}

} // namespace oggmux
