#include "oracle.h"

#include <FLAC/stream_decoder.h>
#include <cstdio>
#include <cstring>
#include <opus/opusfile.h>
#include <vorbis/vorbisfile.h>

#include "common/shell.h"

namespace {
void Append(Decoded* d, const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    d->bytes.insert(d->bytes.end(), p, p + bytes);
}

Decoded Failed(const std::string& why) {
    Decoded d;
    d.error = why;
    return d;
}

// What a command writes on its standard output, as bytes.
Decoded FromCommand(const std::string& command, size_t unitBytes) {
    ShellOutput o = RunShell(command);
    if (o.status != 0) return Failed("failed: " + command);
    Decoded d;
    d.ok = true;
    d.bytes.assign(o.text.begin(), o.text.end());
    d.unitBytes = unitBytes;
    d.count = unitBytes ? static_cast<int64_t>(d.bytes.size() / unitBytes) : 0;
    if (unitBytes && d.bytes.size() % unitBytes) return Failed("a part of a unit from: " + command);
    return d;
}
} // namespace

Decoded VorbisOracle(const std::string& path) {
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0) return Failed("libvorbisfile cannot open " + path);
    Decoded d;
    const int channels = ov_info(&vf, -1)->channels;
    d.unitBytes = sizeof(float) * static_cast<size_t>(channels);
    for (;;) {
        float** pcm = nullptr;
        int link = 0;
        const long n = ov_read_float(&vf, &pcm, 4096, &link);
        if (n == OV_HOLE) continue; // a gap libvorbisfile reports and reads past
        if (n < 0) {
            ov_clear(&vf);
            return Failed("ov_read_float failed");
        }
        if (n == 0) break;
        for (long i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                Append(&d, &pcm[c][i], sizeof(float));
        d.count += n;
    }
    ov_clear(&vf);
    d.ok = true;
    return d;
}

Decoded OpusOracle(const std::string& path) {
    int error = 0;
    OggOpusFile* of = op_open_file(path.c_str(), &error);
    if (!of) return Failed("opusfile cannot open " + path);
    Decoded d;
    const int channels = op_channel_count(of, -1);
    d.unitBytes = sizeof(float) * static_cast<size_t>(channels);
    std::vector<float> pcm(5760 * 8);
    for (;;) {
        const int n = op_read_float(of, pcm.data(), static_cast<int>(pcm.size()), nullptr);
        if (n == OP_HOLE) continue;
        if (n < 0) {
            op_free(of);
            return Failed("op_read_float failed");
        }
        if (n == 0) break;
        Append(&d, pcm.data(), static_cast<size_t>(n) * d.unitBytes);
        d.count += n;
    }
    op_free(of);
    d.ok = true;
    return d;
}

namespace {
FLAC__StreamDecoderWriteStatus FlacWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const buffer[], void* out) {
    auto* d = static_cast<Decoded*>(out);
    const unsigned channels = frame->header.channels;
    d->unitBytes = sizeof(FLAC__int32) * channels;
    for (unsigned i = 0; i < frame->header.blocksize; ++i)
        for (unsigned c = 0; c < channels; ++c)
            Append(d, &buffer[c][i], sizeof(FLAC__int32));
    d->count += frame->header.blocksize;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
void FlacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* out) {
    static_cast<Decoded*>(out)->error = FLAC__StreamDecoderErrorStatusString[status];
}
} // namespace

Decoded FlacOracle(const std::string& path) {
    Decoded d;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    if (!decoder) return Failed("no libFLAC decoder");
    FLAC__stream_decoder_set_md5_checking(decoder, true);
    if (FLAC__stream_decoder_init_ogg_file(decoder, path.c_str(), FlacWrite, nullptr, FlacError, &d) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        FLAC__stream_decoder_delete(decoder);
        return Failed("libFLAC cannot open " + path);
    }
    const bool ok = FLAC__stream_decoder_process_until_end_of_stream(decoder);
    const bool md5 = FLAC__stream_decoder_finish(decoder);
    FLAC__stream_decoder_delete(decoder);
    d.ok = ok && md5 && d.error.empty();
    if (!md5) d.error = "the file's audio does not have its STREAMINFO MD5";
    return d;
}

Decoded TheoraOracle(const std::string& path, int width, int height) {
    const size_t frame =
        static_cast<size_t>(width) * height + 2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
    return FromCommand("ffmpeg -nostdin -hide_banner -loglevel error -i " + Quote(path) +
                           " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -",
                       frame);
}

Decoded SpeexOracle(const std::string& path, int channels) {
    return FromCommand("ffmpeg -nostdin -hide_banner -loglevel error -c:a libspeex -i " + Quote(path) +
                           " -map 0:a:0 -f s16le -",
                       2 * static_cast<size_t>(channels));
}
