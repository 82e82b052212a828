// Speex through libspeex: the mode, channels and frames per packet from the Speex header in the type's user
// data; each packet's frames decoded in turn (stereo through the in-band stereo handler), with libspeex's
// default enhancement. Output: 16-bit signed samples, little-endian, channels interleaved; nothing trimmed
// (every frame of every packet, as the encoder's frames: the stream's end time is not applied).
#include <cstring>
#include <speex/speex.h>
#include <speex/speex_callbacks.h>
#include <speex/speex_header.h>
#include <speex/speex_stereo.h>

#include "decoder.h"

namespace decode {
namespace {
class SpeexDecoder final : public Decoder {
public:
    SpeexDecoder() { speex_bits_init(&m_bits); }
    ~SpeexDecoder() override {
        speex_bits_destroy(&m_bits);
        if (m_state) speex_decoder_destroy(m_state);
        if (m_stereo) speex_stereo_state_destroy(m_stereo);
    }
    const char* Codec() const override { return "speex"; }
    std::string Format() const override {
        return "s16le interleaved, " + std::to_string(m_channels) + " channels, " + std::to_string(m_rate) +
               " Hz";
    }
    const char* UnitName() const override { return "samples"; }

    bool Setup(std::string* error) override {
        std::vector<uint8_t> bytes = SetupBytes(40); // the fault changes the mode
        SpeexHeader* header = bytes.size() >= 80
                                  ? speex_packet_to_header(reinterpret_cast<char*>(bytes.data()),
                                                           static_cast<int>(bytes.size()))
                                  : nullptr;
        if (!header) return Failed(error, "the media type's user data is not a Speex header");
        const SpeexMode* mode =
            header->mode >= 0 && header->mode < SPEEX_NB_MODES ? speex_lib_get_mode(header->mode) : nullptr;
        m_rate = static_cast<uint32_t>(header->rate);
        m_channels = static_cast<unsigned>(header->nb_channels);
        m_framesPerPacket = header->frames_per_packet > 0 ? header->frames_per_packet : 1;
        speex_header_free(header);
        if (!mode || (m_channels != 1 && m_channels != 2))
            return Failed(error, "a Speex header of an unknown mode or channel count");
        UINT32 channels = 0, rate = 0;
        m_setup.type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
        m_setup.type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
        if (channels != m_channels || rate != m_rate)
            return Failed(error, "the media type disagrees with the Speex header");
        m_state = speex_decoder_init(mode);
        if (!m_state) return Failed(error, "libspeex cannot make a decoder");
        speex_decoder_ctl(m_state, SPEEX_GET_FRAME_SIZE, &m_frameSize);
        if (m_channels == 2) {
            m_stereo = speex_stereo_state_init();
            SpeexCallback callback{};
            callback.callback_id = SPEEX_INBAND_STEREO;
            callback.func = speex_std_stereo_request_handler;
            callback.data = m_stereo;
            speex_decoder_ctl(m_state, SPEEX_SET_HANDLER, &callback);
        }
        return true;
    }

    bool Decode(const host::Sample& s, std::string* error) override {
        speex_bits_read_from(&m_bits, reinterpret_cast<const char*>(s.payload.data()),
                             static_cast<int>(s.payload.size()));
        const size_t frame = static_cast<size_t>(m_frameSize) * m_channels;
        std::vector<spx_int16_t> pcm(frame * static_cast<size_t>(m_framesPerPacket));
        int frames = 0;
        for (; frames < m_framesPerPacket; ++frames) {
            spx_int16_t* out = pcm.data() + frame * static_cast<size_t>(frames);
            const int status = speex_decode_int(m_state, &m_bits, out);
            if (status == -1) break; // the packet's frames are over
            if (status != 0) return Failed(error, "libspeex cannot decode a frame");
            if (m_stereo) speex_decode_stereo_int(out, m_frameSize, m_stereo);
        }
        const int64_t count = static_cast<int64_t>(frames) * m_frameSize;
        Emit(s.time, Position(s.time, m_rate), pcm.data(), count, sizeof(spx_int16_t) * m_channels);
        return true;
    }

private:
    bool Failed(std::string* error, const char* why) {
        *error = why;
        return false;
    }

    SpeexBits m_bits;
    void* m_state = nullptr;
    SpeexStereoState* m_stereo = nullptr;
    int m_frameSize = 0, m_framesPerPacket = 1;
    unsigned m_channels = 0;
    uint32_t m_rate = 0;
};
} // namespace

std::unique_ptr<Decoder> MakeSpeexDecoder() {
    return std::make_unique<SpeexDecoder>();
}
} // namespace decode
