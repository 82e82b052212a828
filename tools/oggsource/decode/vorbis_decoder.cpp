// Vorbis through libvorbis: the three header packets are the run's first samples (the format block only
// states channels, rate and bit rates, which must agree with them); each packet's audio follows the last's,
// the first placed by its sample's time (the end of its audio). Output: 32-bit float samples, little-endian,
// channels interleaved; trimmed at the stream's end time.
#include <cstring>
#include <vorbis/codec.h>

#include "decoder.h"

namespace decode {
namespace {
class VorbisDecoder final : public Decoder {
public:
    VorbisDecoder() {
        vorbis_info_init(&m_info);
        vorbis_comment_init(&m_comment);
    }
    ~VorbisDecoder() override {
        if (m_ready) {
            vorbis_block_clear(&m_block);
            vorbis_dsp_clear(&m_dsp);
        }
        vorbis_comment_clear(&m_comment);
        vorbis_info_clear(&m_info);
    }
    const char* Codec() const override { return "vorbis"; }
    std::string Format() const override {
        return "f32le interleaved, " + std::to_string(m_info.channels) + " channels, " +
               std::to_string(m_info.rate) + " Hz";
    }
    const char* UnitName() const override { return "samples"; }

    bool Setup(std::string* error) override {
        const std::vector<uint8_t> block = SetupBytes(0);
        if (block.size() < 24) {
            *error = "the media type has no Vorbis format block";
            return false;
        }
        m_channels = block[0] | block[1] << 8;
        m_rate = static_cast<uint32_t>(block[4] | block[5] << 8 | block[6] << 16) |
                 static_cast<uint32_t>(block[7]) << 24;
        return true;
    }

    bool Decode(const host::Sample& s, std::string* error) override {
        if (s.payload.empty()) return true;
        ogg_packet p{};
        p.packet = const_cast<unsigned char*>(s.payload.data());
        p.bytes = static_cast<long>(s.payload.size());
        p.b_o_s =
            s.payload[0] == 1; // libvorbis takes an identification header only as a stream's first packet
        p.granulepos = -1;
        p.packetno = m_packetno++;
        if (s.payload[0] & 1) return Header(p, error);
        if (!m_ready) {
            *error = "an audio packet before the three header samples";
            return false;
        }
        if (vorbis_synthesis(&m_block, &p) != 0)
            return true; // a packet libvorbis cannot read decodes to nothing
        vorbis_synthesis_blockin(&m_dsp, &m_block);
        float** pcm = nullptr;
        const int n = vorbis_synthesis_pcmout(&m_dsp, &pcm);
        std::vector<float> interleaved(static_cast<size_t>(n) * static_cast<size_t>(m_info.channels));
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < m_info.channels; ++c)
                interleaved[static_cast<size_t>(i * m_info.channels + c)] = pcm[c][i];
        // A sample's time is the end of its audio: the first packet that gives audio places the run on the
        // timeline, and the audio of each packet follows the last's (the stream's last packet decodes to more
        // than its granule says, and the end trim cuts it).
        if (!m_placed && n > 0) m_position = Position(s.time, m_info.rate) - n, m_placed = true;
        Emit(s.time, m_position, interleaved.data(), n, sizeof(float) * static_cast<size_t>(m_info.channels));
        m_position += n;
        vorbis_synthesis_read(&m_dsp, n);
        return true;
    }

private:
    void Reset() {
        if (m_ready) {
            vorbis_block_clear(&m_block);
            vorbis_dsp_clear(&m_dsp);
        }
        vorbis_comment_clear(&m_comment);
        vorbis_info_clear(&m_info);
        vorbis_info_init(&m_info);
        vorbis_comment_init(&m_comment);
        m_ready = false;
        m_headers = 0;
    }

    // The header samples of a run set the decoder up; sent again (the next link of a chain, whose setup may
    // differ) they set it up afresh.
    bool Header(ogg_packet& p, std::string* error) {
        if (p.packet[0] == 1 && (m_ready || m_headers > 0)) Reset();
        if (m_ready) return true; // a comment or setup header after a complete set: nothing to do
        if (vorbis_synthesis_headerin(&m_info, &m_comment, &p) != 0) {
            *error = "a header sample libvorbis refuses";
            return false;
        }
        if (++m_headers < 3) return true;
        if (m_info.channels != m_channels || static_cast<uint32_t>(m_info.rate) != m_rate) {
            *error = "the format block (" + std::to_string(m_channels) + " channels, " +
                     std::to_string(m_rate) + " Hz) disagrees with the identification header";
            return false;
        }
        TrimAtEnd(m_info.rate);
        vorbis_synthesis_init(&m_dsp, &m_info);
        vorbis_block_init(&m_dsp, &m_block);
        m_ready = true;
        return true;
    }

    vorbis_info m_info;
    vorbis_comment m_comment;
    vorbis_dsp_state m_dsp{};
    vorbis_block m_block{};
    bool m_ready = false;
    int m_headers = 0;
    int64_t m_packetno = 0;
    int64_t m_position = 0; // where the next packet's audio begins
    bool m_placed = false;
    int m_channels = 0;
    uint32_t m_rate = 0;
};
} // namespace

std::unique_ptr<Decoder> MakeVorbisDecoder() {
    return std::make_unique<VorbisDecoder>();
}
} // namespace decode
