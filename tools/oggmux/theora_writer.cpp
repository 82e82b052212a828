// Theora from libtheora's encoder over a deterministic picture: moving bars on a gradient.
#include <theora/theoraenc.h>
#include <vector>

#include "packets.h"

namespace oggmux {

namespace {
void Noise(th_ycbcr_buffer planes, Rng& rng) {
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < planes[p].height; ++y) {
            unsigned char* row = planes[p].data + static_cast<ptrdiff_t>(y) * planes[p].stride;
            for (int x = 0; x < planes[p].width; x += 8) {
                uint64_t v = rng.Next();
                for (int k = 0; k < 8 && x + k < planes[p].width; ++k) row[x + k] = static_cast<unsigned char>(v >> (8 * k));
            }
        }
}

void Paint(th_ycbcr_buffer planes, int frame) {
    for (int p = 0; p < 3; ++p) {
        th_img_plane& pl = planes[p];
        for (int y = 0; y < pl.height; ++y) {
            unsigned char* row = pl.data + static_cast<ptrdiff_t>(y) * pl.stride;
            for (int x = 0; x < pl.width; ++x) {
                int v = p == 0 ? ((x + frame * 4) / 16 % 2 ? 200 : 60) + y / 8 : 128 + ((x + y + frame) % 32) - 16;
                row[x] = static_cast<unsigned char>(v & 0xFF);
            }
        }
    }
}

int Ilog(unsigned v) {
    int r = 0;
    while (v) {
        ++r;
        v >>= 1;
    }
    return r;
}
} // namespace

bool MakeTheora(const StreamDescription& d, StreamPackets* out, std::string* error) {
    th_info ti;
    th_info_init(&ti);
    ti.pic_width = static_cast<ogg_uint32_t>(d.width);
    ti.pic_height = static_cast<ogg_uint32_t>(d.height);
    ti.frame_width = static_cast<ogg_uint32_t>(d.frameWidth ? d.frameWidth : (d.width + 15) & ~15);
    ti.frame_height = static_cast<ogg_uint32_t>(d.frameHeight ? d.frameHeight : (d.height + 15) & ~15);
    ti.pic_x = static_cast<ogg_uint32_t>(d.picX);
    ti.pic_y = static_cast<ogg_uint32_t>(d.picY);
    ti.fps_numerator = static_cast<ogg_uint32_t>(d.fpsNum);
    ti.fps_denominator = static_cast<ogg_uint32_t>(d.fpsDen);
    ti.aspect_numerator = static_cast<ogg_uint32_t>(d.aspectNum);
    ti.aspect_denominator = static_cast<ogg_uint32_t>(d.aspectDen);
    ti.colorspace = TH_CS_UNSPECIFIED;
    ti.pixel_fmt = TH_PF_420;
    ti.quality = 32;
    ti.keyframe_granule_shift = Ilog(static_cast<unsigned>(d.keyint > 1 ? d.keyint - 1 : 1));
    out->granuleShift = ti.keyframe_granule_shift;
    th_enc_ctx* enc = th_encode_alloc(&ti);
    if (!enc) {
        th_info_clear(&ti);
        *error = "theora: the encoder refuses these settings";
        return false;
    }
    ogg_uint32_t keyint = static_cast<ogg_uint32_t>(d.keyint);
    th_encode_ctl(enc, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &keyint, sizeof keyint);

    th_comment tc;
    th_comment_init(&tc);
    for (const auto& c : d.comments) th_comment_add(&tc, const_cast<char*>(c.c_str()));
    ogg_packet op;
    while (th_encode_flushheader(enc, &tc, &op) > 0) {
        MuxPacket p;
        p.bytes.assign(op.packet, op.packet + op.bytes);
        p.granule = 0;
        p.header = true;
        out->packets.push_back(std::move(p));
    }
    out->packets.front().flushAfter = true;
    out->packets.back().flushAfter = true;

    th_ycbcr_buffer planes;
    std::vector<unsigned char> store[3];
    for (int p = 0; p < 3; ++p) {
        planes[p].width = static_cast<int>(p ? ti.frame_width / 2 : ti.frame_width);
        planes[p].height = static_cast<int>(p ? ti.frame_height / 2 : ti.frame_height);
        planes[p].stride = planes[p].width;
        store[p].resize(static_cast<size_t>(planes[p].width) * planes[p].height);
        planes[p].data = store[p].data();
    }
    const int frames = d.packets > 0 && d.seconds <= 0
                           ? d.packets
                           : static_cast<int>(d.seconds * d.fpsNum / (d.fpsDen ? d.fpsDen : 1) + 0.5);
    Rng rng(d.serial);
    for (int f = 0; f < frames; ++f) {
        if (d.noise) Noise(planes, rng);
        else Paint(planes, f);
        th_encode_ycbcr_in(enc, planes);
        while (th_encode_packetout(enc, f + 1 == frames, &op) > 0) {
            MuxPacket p;
            p.bytes.assign(op.packet, op.packet + op.bytes);
            p.granule = op.granulepos;
            p.eos = op.e_o_s != 0;
            p.key = th_packet_iskeyframe(&op) == 1;
            p.time = static_cast<double>(f) * d.fpsDen / d.fpsNum;
            p.duration = 1;
            out->packets.push_back(std::move(p));
        }
    }
    if (d.repeatToSeconds > d.seconds) {
        // Each copy moves every frame by the frames encoded: the key-frame number grows, the offset stays.
        const int shift = ti.keyframe_granule_shift;
        const int64_t count = frames;
        RepeatPackets(out, d.repeatToSeconds, [shift, count](int64_t g, int round) {
            return ((g >> shift) + count * round) << shift | (g & ((int64_t{1} << shift) - 1));
        });
    }
    th_comment_clear(&tc);
    th_encode_free(enc);
    th_info_clear(&ti);
    return true;
}

} // namespace oggmux
