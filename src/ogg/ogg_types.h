// Constants and small helpers shared by the demultiplexing core.
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "support/wide_math.h" // ScaleGranule, SatAdd, SatSub, SatMul: exact and saturating, in standard C++

enum : int32_t {
    CODEC_VORBIS = 0,
    CODEC_OGM = 1,
    CODEC_THEORA = 2,
    CODEC_OPUS = 3,
    CODEC_FLAC = 4,
    CODEC_SPEEX = 5,
    CODEC_SKELETON = 6, // not media: no media stream
    CODEC_KATE = 7,     // not media: no media stream
    CODEC_UNKNOWN = 255,
};

enum : uint32_t { HEADERS_PENDING = 1, START_TIME_PENDING = 2 };

constexpr int32_t DiscoveryLimit = 0x50000;
// How far the open reads for the headers of the streams it found in its window: 8 MB from the link's first
// byte (a 1 MB cover ahead of a Vorbis setup header fits). A header beyond is left out with its tags; the
// stream stays.
constexpr LONGLONG kHeaderReadCap = 8 << 20;
constexpr int32_t EndScanWindow = 0x10000;
constexpr int32_t EndScanStep = 0xF000;
constexpr LONGLONG UnknownLength = 0x3fffffffffffffffLL;
// What one stream's reader may queue ahead, whatever the file's headers and times say.
constexpr int32_t kMaxQueuePages = 512;
constexpr int64_t kMaxQueueBytes = 8 << 20;
// The largest packet a stream may have: one larger ends the stream with an error (it would cost twice its size).
constexpr int64_t kMaxPacketBytes = 64 << 20;
constexpr LONGLONG MaxTime = 0x7fffffffffffffffLL;
constexpr LONGLONG MinTime = -0x7fffffffffffffffLL - 1;
constexpr uint32_t MaxMediaStreams = 32;

// a / d rounded to nearest: one more when the remainder exceeds half the divisor (a remainder of exactly
// half rounds down). d must not be 0.
inline LONGLONG RoundDiv(LONGLONG a, LONGLONG d) {
    LONGLONG q = a / d, r = a % d;
    return r > (d >> 1) ? q + 1 : q;
}

// Seconds as 100 ns units, held inside the 64-bit range (a double beyond it does not convert).
inline LONGLONG SecondsToTime(double seconds) {
    const double t = seconds * 1e7 + 0.5;
    if (!(t > -9.2e18)) return -MaxTime - 1; // also NaN
    if (t > 9.2e18) return MaxTime;
    return static_cast<LONGLONG>(t);
}

// A time as played at a rate, held inside the 64-bit range.
inline LONGLONG TimeAtRate(LONGLONG t, double rate) {
    const double v = static_cast<double>(t) / rate; // cut toward zero, as an integer conversion does
    if (!(v > -9.2e18)) return -MaxTime - 1;
    return v > 9.2e18 ? MaxTime : static_cast<LONGLONG>(v);
}

inline uint32_t ReadLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline int64_t ReadLE64(const uint8_t* p) {
    return static_cast<int64_t>(ReadLE32(p) | static_cast<uint64_t>(ReadLE32(p + 4)) << 32);
}
inline void WriteLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void WriteLE16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLE64(uint8_t* p, uint64_t v) {
    WriteLE32(p, static_cast<uint32_t>(v));
    WriteLE32(p + 4, static_cast<uint32_t>(v >> 32));
}
