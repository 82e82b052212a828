// The oracle: each file decoded by reading the file itself, through decoders nobody here wrote:
// libvorbisfile, opusfile and libFLAC's Ogg decoder (Xiph's file-level readers), and ffmpeg for Theora and
// Speex. The output has the format `oggsource decode` states for the codec, so that the two can be compared
// byte for byte.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Decoded {
    bool ok = false;
    std::string error;
    std::vector<uint8_t> bytes; // the whole output
    int64_t count = 0;          // samples per channel, or frames
    size_t unitBytes = 0;       // bytes of one sample of every channel, or of one frame
};

// The first stream of each kind in the file.
Decoded VorbisOracle(const std::string& path); // ov_read_float: f32le interleaved
Decoded OpusOracle(const std::string& path);   // op_read_float: f32le interleaved, 48 kHz
Decoded FlacOracle(const std::string& path);   // libFLAC's Ogg decoder: s32le interleaved
Decoded TheoraOracle(const std::string& path, int width, int height); // ffmpeg: yuv420p frames, cropped
Decoded SpeexOracle(const std::string& path, int channels); // ffmpeg -c:a libspeex: s16le interleaved
