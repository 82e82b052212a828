// The media type of each kind of stream, the FOURCC mapping, and the alternative type.
#pragma once
#include "oggsource.h" // MEDIASUBTYPE_OggVorbis, FORMAT_OggVorbis
#include "support/am_media_type.h"

class COggStream;
class CFourccMap;

constexpr uint32_t FOURCC_KTHE = 0x4548544B; // "KTHE"

// Fills the record from an OGM stream header of `size` bytes; false when the header is not usable
// (then the stream has no media type).
bool BuildOgmMediaType(const CFourccMap* settings, BYTE* header, size_t size, CAMMediaType* type,
                       int32_t* queueHigh, int32_t* queueLow);
// An audio type whose format block is a WAVEFORMATEX of that tag followed by `extra` (the codec's headers, which
// a Media Foundation type carries as its user data); the subtype is the tag's.
void BuildWaveFormatType(CAMMediaType* type, uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avgBytes,
                         uint16_t bits, const BYTE* extra, uint32_t extraBytes);
// 0 when the record was converted, 1 when no conversion applies.
int MakeAlternativeType(CAMMediaType* type);
