// What oggmux is asked to write: the streams, how their pages are cut, and what damage to do.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace oggmux {

enum class Kind { Vorbis, Theora, OgmVideo, OgmAudio, OgmText, DirectX, DShow, Unknown, Opus, Flac, Speex, Skeleton };

struct TextLine {
    int64_t start = 0;    // in time units of the stream
    int64_t duration = 1; // carried by the packet's length bytes
    std::string text;
};

struct StreamDescription {
    Kind kind = Kind::Vorbis;
    uint32_t serial = 1;
    std::vector<std::string> comments;
    double seconds = 1.0;
    double repeatToSeconds = 0; // Vorbis, Theora: repeat the encoded data packets until this long (benchmarks)
    bool noise = false;         // Theora, Vorbis: noise, which compresses badly (large packets)
    double start = 0;           // the granule origin: data granules begin this many seconds in (a cut file)

    // Vorbis
    int rate = 44100;
    int channels = 2;
    float quality = 0.1f;

    // Theora
    int width = 320, height = 240;              // picture size
    int frameWidth = 0, frameHeight = 0;        // coded size (0: picture size rounded up to 16)
    int picX = 0, picY = 0;
    int fpsNum = 25, fpsDen = 1;
    int keyint = 25;
    int aspectNum = 0, aspectDen = 0;

    // OGM and the DirectShow forms
    std::string media = "video";                // directx / dshow: "video" or "audio"
    std::string fourcc = "XVID";
    int64_t timeUnit = 400000;                  // 100-ns units per time unit
    int64_t samplesPerUnit = 1;
    int32_t defaultLength = 1;
    int32_t bufferSize = 65536;
    int bitsPerSample = 24;
    int formatTag = 0x55;
    int blockAlign = 4;
    int avgBytesPerSec = 16000;
    std::vector<uint8_t> extra;                 // audio format-specific extra data
    int packets = 25;                           // data packets
    int packetSize = 1000;                      // bytes of payload (varies a little per packet)
    int lengthBytes = 0;                        // 0..7 length bytes per OGM data packet
    int packetDuration = 1;                     // duration written in the length bytes
    int keyEvery = 1;                           // every n-th OGM video packet is a key frame
    int keySize = 0;                            // OGM video: key frames of this many bytes (they span pages)
    std::vector<TextLine> lines;                // OGM text

    // Opus (packets of mixed frame layouts; 48 kHz granules)
    int preskip = 312;
    int trim = 0;                               // samples the last page's granule cuts from the end
    // FLAC (frames of mixed block sizes, variable block size coding) and Speex; rate and channels as Vorbis
    int bits = 16;
    int frameSize = 320;                        // Speex samples per frame
    int framesPerPacket = 1;
    int extraHeaders = 0;

    // Page cutting
    int flushEvery = 0;        // flush a page after every n data packets (0: libogg decides)
    int pageFill = 0;          // target page body size (0: libogg's default)
    int emptyPacketEvery = 0;  // every n-th data packet is empty
    int bigPacketEvery = 0;    // every n-th data packet is big
    int bigPacketSize = 20000;
};

struct Damage {
    int garbageEvery = 0;      // insert garbage before every n-th page
    int garbageBytes = 0;
    int64_t truncateAt = -1;   // cut the file at this byte offset
    std::vector<int> dropPages;
    std::vector<int> corruptCrcPages;
    int64_t notOgg = -1;       // write this many random bytes instead of an Ogg file
    int junkPrefix = 0;        // an ID3v2 tag of this many bytes before the first page
};

struct Description {
    uint64_t seed = 1;
    std::vector<StreamDescription> streams;
    Damage damage;
    std::vector<Description> links; // a chained file: these, one after the other (streams then unused)
};

const char* KindName(Kind kind);
bool KindFromName(const std::string& name, Kind* kind);

// Parses the JSON description; false with a message on error.
bool ParseDescription(const std::string& json, Description* out, std::string* error);

// The built-in sample: Theora 320x240 at 25 fps, Vorbis, and OGM text, 10 seconds.
Description DemoDescription();

} // namespace oggmux
