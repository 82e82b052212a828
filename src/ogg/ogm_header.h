// The OGM stream header: fixed fields at fixed offsets, little-endian.
#pragma once
#include <cstring>

#include "ogg_types.h"

namespace ogm {
constexpr size_t kType = 0, kSubtype = 8, kSize = 12, kTimeUnit = 16, kSamplesPerUnit = 24, kDefaultLength = 32,
                 kBufferSize = 36, kBitsPerSample = 40, kWidth = 44, kHeight = 48, kChannels = 44,
                 kBlockAlign = 46, kAvgBytesPerSec = 48, kExtra = 52;
constexpr size_t kMinSize = 52;
// "directx": a DirectShow media type from offset 44, its format block where the field at 112 says.
constexpr size_t kDxMajor = 44, kDxSubtype = 60, kDxFixed = 76, kDxTemporal = 80, kDxSampleSize = 84,
                 kDxFormatType = 88, kDxFormatLength = 108, kDxFormatOffset = 112, kDxMinSize = 116;

inline bool TypeIs(const uint8_t* header, const char* type) {
    return std::memcmp(header + kType, type, std::strlen(type)) == 0;
}
inline int32_t Size(const uint8_t* h) { return static_cast<int32_t>(ReadLE32(h + kSize)); }
inline int64_t TimeUnit(const uint8_t* h) { return ReadLE64(h + kTimeUnit); }
inline int64_t SamplesPerUnit(const uint8_t* h) { return ReadLE64(h + kSamplesPerUnit); }
inline int32_t DefaultLength(const uint8_t* h) { return static_cast<int32_t>(ReadLE32(h + kDefaultLength)); }
inline int32_t BufferSize(const uint8_t* h) { return static_cast<int32_t>(ReadLE32(h + kBufferSize)); }
inline GUID ReadGuid(const uint8_t* p) {
    GUID g;
    g.Data1 = ReadLE32(p);
    g.Data2 = ReadLE16(p + 4);
    g.Data3 = ReadLE16(p + 6);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}
} // namespace ogm
