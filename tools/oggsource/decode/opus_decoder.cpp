// Opus through libopus: the decoder set up from the OpusHead in the type's user data (channels, mapping,
// output gain, pre-skip); one packet per sample, placed on the timeline by its time. Output: 32-bit float
// samples at 48 kHz, little-endian, channels interleaved; from the start, the pre-skip's samples are dropped;
// trimmed at the stream's end time.
#include <cstring>
#include <opus/opus_multistream.h>

#include "decoder.h"

namespace decode {
namespace {
constexpr int kRate = 48000;
constexpr int kMaxFrame = 5760; // 120 ms at 48 kHz: the longest packet

class OpusDecoder final : public Decoder {
public:
    ~OpusDecoder() override {
        if (m_decoder) opus_multistream_decoder_destroy(m_decoder);
    }
    const char* Codec() const override { return "opus"; }
    std::string Format() const override {
        return "f32le interleaved, " + std::to_string(m_channels) + " channels, 48000 Hz";
    }
    const char* UnitName() const override { return "samples"; }

    bool Setup(std::string* error) override {
        const std::vector<uint8_t> head = SetupBytes(9); // the fault changes the channel count
        if (head.size() < 19 || std::memcmp(head.data(), "OpusHead", 8) != 0) {
            *error = "the media type's user data is not an OpusHead";
            return false;
        }
        m_channels = head[9];
        m_preSkip = head[10] | head[11] << 8;
        const int16_t gain = static_cast<int16_t>(head[16] | head[17] << 8);
        int streams = 1, coupled = m_channels == 2 ? 1 : 0;
        unsigned char mapping[255] = {0, 1};
        if (head[18] != 0) { // a mapping family with its table
            if (head.size() < 21u + m_channels) {
                *error = "the OpusHead's channel mapping table is cut";
                return false;
            }
            streams = head[19];
            coupled = head[20];
            std::memcpy(mapping, head.data() + 21, m_channels);
        } else if (m_channels > 2) {
            *error = "an OpusHead of mapping family 0 with more than two channels";
            return false;
        }
        if (!TypeAgrees(error)) return false;
        int status = 0;
        m_decoder = opus_multistream_decoder_create(kRate, m_channels, streams, coupled, mapping, &status);
        if (!m_decoder || status != OPUS_OK) {
            *error = std::string("libopus refuses the OpusHead: ") + opus_strerror(status);
            return false;
        }
        opus_multistream_decoder_ctl(m_decoder, OPUS_SET_GAIN(gain));
        if (m_fault == Fault::PreSkip) ++m_preSkip;
        TrimAtEnd(kRate);
        return true;
    }

    bool Decode(const host::Sample& s, std::string* error) override {
        std::vector<float> pcm(static_cast<size_t>(kMaxFrame) * m_channels);
        const int n = opus_multistream_decode_float(
            m_decoder, s.payload.data(), static_cast<opus_int32>(s.payload.size()), pcm.data(), kMaxFrame, 0);
        if (n < 0) {
            *error = std::string("libopus cannot decode a packet: ") + opus_strerror(n);
            return false;
        }
        const int64_t position = Position(s.time, kRate);
        // From the start, the stream's first samples are the encoder's pre-skip, which a player drops.
        if (!m_placed && m_setup.fromStart) m_keepFrom = position + m_preSkip;
        m_placed = true;
        Emit(s.time, position, pcm.data(), n, sizeof(float) * m_channels);
        return true;
    }

private:
    bool TypeAgrees(std::string* error) const {
        UINT32 channels = 0, rate = 0;
        m_setup.type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
        m_setup.type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
        if (channels == m_channels && rate == kRate) return true;
        *error = "the media type (" + std::to_string(channels) + " channels, " + std::to_string(rate) +
                 " Hz) disagrees with the OpusHead (" + std::to_string(m_channels) + " channels, 48000 Hz)";
        return false;
    }

    OpusMSDecoder* m_decoder = nullptr;
    unsigned m_channels = 0;
    int m_preSkip = 0;
    bool m_placed = false;
};
} // namespace

std::unique_ptr<Decoder> MakeOpusDecoder() {
    return std::make_unique<OpusDecoder>();
}
} // namespace decode
