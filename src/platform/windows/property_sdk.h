// The property system on Windows: the SDK's headers, plus what the mingw-w64 10 headers lack or get wrong for
// the tags a source and a property handler give. Included by sdk.h after the Media Foundation headers.
#pragma once
#include <propkey.h>
#include <propsys.h>
#include <propvarutil.h>

// Presentation descriptor attributes mfidl.h leaves out (Microsoft's values; Wine's mfidl.h has the same).
PLAT_GUID(MF_PD_TOTAL_FILE_SIZE, 0x6c990d34, 0xbb8e, 0x477a, 0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8, 0x8a);
PLAT_GUID(MF_PD_AUDIO_ENCODING_BITRATE, 0x6c990d35, 0xbb8e, 0x477a, 0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8,
          0x8a);
PLAT_GUID(MF_PD_VIDEO_ENCODING_BITRATE, 0x6c990d36, 0xbb8e, 0x477a, 0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8,
          0x8a);
PLAT_GUID(MF_PD_MIME_TYPE, 0x6c990d37, 0xbb8e, 0x477a, 0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8, 0x8a);
PLAT_GUID(MF_PD_LAST_MODIFIED_TIME, 0x6c990d38, 0xbb8e, 0x477a, 0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8,
          0x8a);
PLAT_GUID(MF_PD_AUDIO_ISVARIABLEBITRATE, 0x33026ee0, 0xe387, 0x4582, 0xae, 0x0a, 0x34, 0xa2, 0xad, 0x3b, 0xaa,
          0x18);

// propkey.h of mingw-w64 10 (and Wine 8) gives several audio keys the format id
// {64440490-4C8B-11D1-8B80-...}; the system's is FMTID_AudioSummaryInformation
// {64440490-4C8B-11D1-8B70-080036B11A03} (shlguid.h), the one PKEY_Audio_EncodingBitrate and
// PKEY_Media_Duration carry there. The names below stand for the right keys.
#define PLAT_PKEY(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8, id)                                       \
    inline constexpr PROPERTYKEY name = {{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}, id}
PLAT_PKEY(PLAT_PKEY_Audio_SampleRate, 0x64440490, 0x4c8b, 0x11d1, 0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a,
          0x03, 5);
PLAT_PKEY(PLAT_PKEY_Audio_SampleSize, 0x64440490, 0x4c8b, 0x11d1, 0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a,
          0x03, 6);
PLAT_PKEY(PLAT_PKEY_Audio_ChannelCount, 0x64440490, 0x4c8b, 0x11d1, 0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a,
          0x03, 7);
#define PKEY_Audio_SampleRate PLAT_PKEY_Audio_SampleRate
#define PKEY_Audio_SampleSize PLAT_PKEY_Audio_SampleSize
#define PKEY_Audio_ChannelCount PLAT_PKEY_Audio_ChannelCount
