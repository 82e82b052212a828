// FLAC through libFLAC's stream decoder: the type's user data ("fLaC" and STREAMINFO) is the stream's header
// and each sample one frame after it, as in a native FLAC stream. Output: the decoded samples as 32-bit
// signed integers, little-endian, channels interleaved; trimmed at the stream's end time. The frames are
// decoded once every sample has come (the decoder pulls its bytes; a play pushes them).
#include <FLAC/stream_decoder.h>
#include <cstring>

#include "decoder.h"

namespace decode {
namespace {
class FlacDecoder final : public Decoder {
public:
    ~FlacDecoder() override {
        if (m_decoder) FLAC__stream_decoder_delete(m_decoder);
    }
    const char* Codec() const override { return "flac"; }
    std::string Format() const override {
        return "s32le interleaved, " + std::to_string(m_channels) + " channels, " + std::to_string(m_rate) +
               " Hz, " + std::to_string(m_bits) + " significant bits";
    }
    const char* UnitName() const override { return "samples"; }

    bool Setup(std::string* error) override {
        m_bytes = SetupBytes(18); // the fault changes the sample rate's low bits
        if (m_bytes.size() < 42 || std::memcmp(m_bytes.data(), "fLaC", 4) != 0) {
            *error = "the media type's user data is not a FLAC stream header";
            return false;
        }
        const uint8_t* si = m_bytes.data() + 8;
        m_rate = static_cast<uint32_t>(si[10]) << 12 | static_cast<uint32_t>(si[11]) << 4 | si[12] >> 4;
        m_channels = ((si[12] >> 1) & 7) + 1u;
        m_bits = (((si[12] & 1u) << 4) | si[13] >> 4) + 1u;
        UINT32 channels = 0, rate = 0, bits = 0;
        m_setup.type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
        m_setup.type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
        m_setup.type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits);
        if (channels != m_channels || rate != m_rate || bits != m_bits) {
            *error = "the media type (" + std::to_string(channels) + " channels, " + std::to_string(rate) +
                     " Hz, " + std::to_string(bits) + " bits) disagrees with STREAMINFO";
            return false;
        }
        TrimAtEnd(m_rate);
        return true;
    }

    bool Decode(const host::Sample& s, std::string*) override {
        m_frames.push_back({s.time, m_bytes.size()});
        m_bytes.insert(m_bytes.end(), s.payload.begin(), s.payload.end());
        return true;
    }

    bool Finish(std::string* error) override {
        m_decoder = FLAC__stream_decoder_new();
        if (!m_decoder) return Failed(error, "no memory for libFLAC's decoder");
        // From the start, the decoded audio must have STREAMINFO's MD5 (libFLAC checks it at the end).
        FLAC__stream_decoder_set_md5_checking(m_decoder, m_setup.fromStart);
        if (FLAC__stream_decoder_init_stream(m_decoder, Read, nullptr, nullptr, nullptr, nullptr, Write,
                                             nullptr, Error, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return Failed(error, "libFLAC's decoder does not start");
        const bool ok = FLAC__stream_decoder_process_until_end_of_stream(m_decoder);
        if (!m_error.empty()) return Failed(error, m_error);
        if (!ok) return Failed(error, "libFLAC stops decoding");
        if (!FLAC__stream_decoder_finish(m_decoder) && m_setup.fromStart)
            return Failed(error, "the decoded audio does not have STREAMINFO's MD5");
        return Decoder::Finish(error);
    }

private:
    struct Frame {
        LONGLONG time;
        size_t at; // where its bytes begin
    };

    static FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                              void* self) {
        auto* d = static_cast<FlacDecoder*>(self);
        const size_t left = d->m_bytes.size() - d->m_read, n = *bytes < left ? *bytes : left;
        std::memcpy(buffer, d->m_bytes.data() + d->m_read, n);
        d->m_read += n;
        *bytes = n;
        return n ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }

    // One frame: the sample it came from gives its time (frames come out in the samples' order).
    static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const channels[], void* self) {
        auto* d = static_cast<FlacDecoder*>(self);
        if (d->m_next >= d->m_frames.size() || frame->header.channels != d->m_channels) {
            d->m_error = "a frame that no sample holds, or of another channel count";
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const unsigned n = frame->header.blocksize;
        std::vector<FLAC__int32> interleaved(static_cast<size_t>(n) * d->m_channels);
        for (unsigned i = 0; i < n; ++i)
            for (unsigned c = 0; c < d->m_channels; ++c)
                interleaved[i * d->m_channels + c] = channels[c][i];
        const LONGLONG time = d->m_frames[d->m_next++].time;
        d->Emit(time, Position(time, d->m_rate), interleaved.data(), n, sizeof(FLAC__int32) * d->m_channels);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self) {
        auto* d = static_cast<FlacDecoder*>(self);
        if (d->m_error.empty())
            d->m_error = std::string("libFLAC: ") + FLAC__StreamDecoderErrorStatusString[status];
    }

    bool Failed(std::string* error, const std::string& why) {
        *error = why;
        return false;
    }

    FLAC__StreamDecoder* m_decoder = nullptr;
    std::vector<uint8_t> m_bytes; // the stream header, then every frame
    std::vector<Frame> m_frames;
    size_t m_read = 0, m_next = 0;
    unsigned m_channels = 0, m_bits = 0;
    uint32_t m_rate = 0;
    std::string m_error;
};
} // namespace

std::unique_ptr<Decoder> MakeFlacDecoder() {
    return std::make_unique<FlacDecoder>();
}
} // namespace decode
