// Theora through libtheora's decoder: the three header packets from the type's user data (after the
// VIDEOINFOHEADER2: a count, then each packet's 32-bit length and bytes), one frame per sample; after a seek,
// nothing is decoded before the first key frame. Output: each frame's picture (the frame cropped to the
// picture region the headers state, as players show it) as 8-bit planes, Y then Cb then Cr, rows top to
// bottom.
#include <cstring>
#include <theora/theoradec.h>

#include "decoder.h"
#include "support/wide_math.h"

namespace decode {
namespace {
class TheoraDecoder final : public Decoder {
public:
    TheoraDecoder() {
        th_info_init(&m_info);
        th_comment_init(&m_comment);
    }
    ~TheoraDecoder() override {
        if (m_decoder) th_decode_free(m_decoder);
        if (m_setupInfo) th_setup_free(m_setupInfo);
        th_comment_clear(&m_comment);
        th_info_clear(&m_info);
    }
    const char* Codec() const override { return "theora"; }
    std::string Format() const override {
        static const char* const kLayouts[] = {"yuv420p", "reserved", "yuv422p", "yuv444p"};
        return std::string(kLayouts[m_info.pixel_fmt & 3]) + " planar (Y, Cb, Cr), " +
               std::to_string(m_info.pic_width) + "x" + std::to_string(m_info.pic_height) +
               " picture, 8 bits";
    }
    const char* UnitName() const override { return "frames"; }

    bool Setup(std::string* error) override {
        const std::vector<uint8_t> data =
            SetupBytes(5 + 11); // the fault changes the coded width in macroblocks
        if (data.empty() || data[0] != 3)
            return Failed(error, "the media type's user data does not hold three Theora headers");
        size_t at = 1;
        for (int i = 0; i < 3; ++i) {
            if (at + 4 > data.size()) return Failed(error, "the Theora headers in the user data are cut");
            const size_t n =
                data[at] | data[at + 1] << 8 | data[at + 2] << 16 | static_cast<size_t>(data[at + 3]) << 24;
            at += 4;
            if (n > data.size() - at) return Failed(error, "the Theora headers in the user data are cut");
            ogg_packet p{};
            p.packet = const_cast<unsigned char*>(data.data() + at);
            p.bytes = static_cast<long>(n);
            p.b_o_s = i == 0;
            p.packetno = i;
            if (th_decode_headerin(&m_info, &m_comment, &m_setupInfo, &p) <= 0)
                return Failed(error, "libtheora refuses a header of the user data");
            at += n;
        }
        if (!m_setupInfo || !(m_decoder = th_decode_alloc(&m_info, m_setupInfo)))
            return Failed(error, "libtheora cannot set a decoder up from the user data's headers");
        UINT64 size = 0;
        m_setup.type->GetUINT64(MF_MT_FRAME_SIZE, &size);
        if (size != (static_cast<UINT64>(m_info.pic_width) << 32 | m_info.pic_height))
            return Failed(error,
                          "the media type's frame size disagrees with the picture size of the headers");
        return true;
    }

    bool Decode(const host::Sample& s, std::string* error) override {
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(s.payload.data());
        p.bytes = static_cast<long>(s.payload.size());
        p.granulepos = -1;
        p.packetno = 3 + m_frames++;
        if (!m_keyed) {
            if (th_packet_iskeyframe(&p) != 1) return true; // nothing to decode it against yet
            m_keyed = true;
        }
        ogg_int64_t granule = 0;
        const int status = th_decode_packetin(m_decoder, &p, &granule);
        if (status != 0 && status != TH_DUPFRAME) return Failed(error, "libtheora cannot decode a frame");
        th_ycbcr_buffer planes;
        th_decode_ycbcr_out(m_decoder, planes);
        std::vector<uint8_t> picture;
        Crop(planes, &picture);
        const LONGLONG frame = ScaleGranule(s.time, m_info.fps_numerator,
                                            static_cast<int64_t>(m_info.fps_denominator) * 10000000);
        Emit(s.time, frame, picture.data(), 1, picture.size());
        return true;
    }

private:
    // The picture region of each plane, rows top to bottom (chroma planes subsampled as the pixel format
    // says).
    void Crop(const th_ycbcr_buffer planes, std::vector<uint8_t>* out) const {
        for (int i = 0; i < 3; ++i) {
            const bool halfX = i > 0 && !(m_info.pixel_fmt & 1),
                       halfY = i > 0 && m_info.pixel_fmt == TH_PF_420;
            const unsigned x0 = halfX ? m_info.pic_x >> 1 : m_info.pic_x,
                           y0 = halfY ? m_info.pic_y >> 1 : m_info.pic_y;
            const unsigned x1 =
                halfX ? (m_info.pic_x + m_info.pic_width + 1) >> 1 : m_info.pic_x + m_info.pic_width;
            const unsigned y1 =
                halfY ? (m_info.pic_y + m_info.pic_height + 1) >> 1 : m_info.pic_y + m_info.pic_height;
            for (unsigned y = y0; y < y1; ++y) {
                const unsigned char* row = planes[i].data + static_cast<ptrdiff_t>(y) * planes[i].stride;
                out->insert(out->end(), row + x0, row + x1);
            }
        }
    }

    bool Failed(std::string* error, const char* why) {
        *error = why;
        return false;
    }

    th_info m_info;
    th_comment m_comment;
    th_setup_info* m_setupInfo = nullptr;
    th_dec_ctx* m_decoder = nullptr;
    bool m_keyed = false;
    int64_t m_frames = 0;
};
} // namespace

std::unique_ptr<Decoder> MakeTheoraDecoder() {
    return std::make_unique<TheoraDecoder>();
}
} // namespace decode
