// Vorbis from libvorbisenc over a deterministic signal: a tone per channel with a slow sweep.
#include <cmath>
#include <vorbis/vorbisenc.h>

#include "packets.h"

namespace oggmux {

namespace {
MuxPacket FromOgg(const ogg_packet& op) {
    MuxPacket p;
    p.bytes.assign(op.packet, op.packet + op.bytes);
    p.granule = op.granulepos;
    p.eos = op.e_o_s != 0;
    return p;
}
} // namespace

std::vector<uint8_t> CommentPacket(const std::vector<std::string>& comments) {
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    for (const auto& c : comments) vorbis_comment_add(&vc, c.c_str());
    ogg_packet op;
    vorbis_commentheader_out(&vc, &op);
    std::vector<uint8_t> bytes(op.packet, op.packet + op.bytes);
    ogg_packet_clear(&op);
    vorbis_comment_clear(&vc);
    return bytes;
}

bool MakeVorbis(const StreamDescription& d, StreamPackets* out, std::string* error) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (d.channels < 1 || d.rate < 1 || vorbis_encode_init_vbr(&vi, d.channels, d.rate, d.quality) != 0) {
        vorbis_info_clear(&vi);
        *error = "vorbis: the encoder refuses these settings";
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    for (const auto& c : d.comments) vorbis_comment_add(&vc, c.c_str());
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);

    ogg_packet id, comment, setup;
    vorbis_analysis_headerout(&vd, &vc, &id, &comment, &setup);
    out->packets.push_back(FromOgg(id));
    out->packets.push_back(FromOgg(comment));
    out->packets.push_back(FromOgg(setup));
    for (auto& p : out->packets) {
        p.header = true;
        p.granule = 0;
    }
    out->packets[0].flushAfter = true; // the identification header has a page of its own
    out->packets[2].flushAfter = true;

    Rng rng(d.serial);
    const long total = static_cast<long>(d.seconds * d.rate);
    const long chunk = 1024;
    long written = 0;
    for (;;) {
        long n = std::min(chunk, total - written);
        if (n > 0) {
            float** buf = vorbis_analysis_buffer(&vd, static_cast<int>(n));
            for (long i = 0; i < n; ++i) {
                double t = static_cast<double>(written + i) / d.rate;
                for (int c = 0; c < d.channels; ++c)
                    buf[c][i] = d.noise ? static_cast<float>(static_cast<int64_t>(rng.Next() % 20001) - 10000) / 20000.0f
                                        : static_cast<float>(0.3 * std::sin(2 * M_PI * (220.0 * (c + 1) + 40 * t) * t));
            }
            vorbis_analysis_wrote(&vd, static_cast<int>(n));
            written += n;
        } else {
            vorbis_analysis_wrote(&vd, 0);
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                MuxPacket p = FromOgg(op);
                p.key = true;
                p.time = static_cast<double>(p.granule) / d.rate;
                out->packets.push_back(std::move(p));
            }
        }
        if (n <= 0) break;
    }
    if (d.repeatToSeconds > d.seconds) {
        const int64_t loop = out->packets.back().granule;
        RepeatPackets(out, d.repeatToSeconds, [loop](int64_t g, int round) { return g + loop * round; });
    }
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return true;
}

} // namespace oggmux

namespace oggmux {
void RepeatPackets(StreamPackets* out, double seconds, const std::function<int64_t(int64_t, int)>& shift) {
    size_t first = 0;
    while (first < out->packets.size() && out->packets[first].header) ++first;
    const size_t end = out->packets.size();
    if (first == end) return;
    const double span = out->packets.back().time - out->packets[first].time +
                        (end - first > 1 ? out->packets[end - 1].time - out->packets[end - 2].time : 0.04);
    if (span <= 0) return;
    out->packets.back().eos = false;
    for (int round = 1; out->packets.back().time + span / static_cast<double>(end - first) < seconds; ++round) {
        for (size_t i = first; i < end; ++i) {
            MuxPacket p = out->packets[i];
            p.granule = shift(p.granule, round);
            p.time += span * round;
            p.eos = false;
            out->packets.push_back(std::move(p));
        }
    }
}
} // namespace oggmux
