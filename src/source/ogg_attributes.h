// Stream descriptor attributes of this source, for hosts that want to know more than the media type says.
#pragma once
#include "platform/platform.h"

// UINT32: 0 Vorbis, 1 OGM, 2 Theora, 3 Opus, 4 FLAC, 5 Speex, 255 unknown.
PLAT_GUID(MF_SD_OGG_CODEC, 0x3f0c2a71, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
// String: the OGM stream type ("video", "audio", "text", "directx"); absent for other codecs.
PLAT_GUID(MF_SD_OGM_TYPE, 0x3f0c2a72, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
// UINT64 (signed 100-ns value): the stream's start time (its first data packet), and its end time when one was
// found, both on the presentation's timeline.
PLAT_GUID(MF_SD_OGG_START_TIME, 0x3f0c2a73, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
PLAT_GUID(MF_SD_OGG_END_TIME, 0x3f0c2a74, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
// UINT64 (signed 100-ns value), on the presentation descriptor: the presentation's origin, the time in the
// streams' own granule timeline from which sample times, the duration and positions count.
PLAT_GUID(MF_PD_OGG_ORIGIN, 0x3f0c2a75, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
// Blob of INT64 values, on the presentation descriptor of a chained file: the link count, then for each link its
// first byte, its start on the presentation's timeline, its duration and its stream count, then for each of its
// streams the serial number and the codec (as MF_SD_OGG_CODEC; 6 Skeleton, 7 Kate) and whether it is played.
PLAT_GUID(MF_PD_OGG_LINKS, 0x3f0c2a76, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
// IUnknown (IMFMediaType), on the first sample of a link whose format differs: the stream's new type, sent as
// MEStreamFormatChanged ahead of the sample and removed from it.
PLAT_GUID(MFSampleExtension_OggFormat, 0x3f0c2a77, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
