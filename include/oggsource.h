/* oggsource.h: the class IDs, media subtypes and attributes of the Ogg media source (oggsource.dll).
 *
 * For C and C++, with the Windows SDK (or mingw-w64's headers). The GUIDs are declared with DEFINE_GUID, as
 * the SDK's own are: in exactly one source file of a program, include <initguid.h> before this header to
 * define them.
 *
 *     #include <windows.h>
 *     #include <mfapi.h>
 *     #include <initguid.h>   // one source file only
 *     #include "oggsource.h"
 *
 * The source does not decode: it hands out each stream's compressed packets as samples, in the media types
 * below. Licensed under the MIT license (see LICENSE).
 */
#ifndef OGGSOURCE_H
#define OGGSOURCE_H

#include <guiddef.h>

/* ---- Classes ---- */

/* The byte-stream handler (IMFByteStreamHandler), the module's media class. regsvr32 registers it
 * for the Ogg file extensions and MIME types; the source resolver creates it. */
/* {D3A2C1B4-7E58-4F2A-9B6C-1E0F3A5D7C92} */
DEFINE_GUID(CLSID_OGGByteStreamHandler, 0xd3a2c1b4, 0x7e58, 0x4f2a, 0x9b, 0x6c, 0x1e, 0x0f, 0x3a, 0x5d, 0x7c,
            0x92);

/* The shell property handler (IInitializeWithStream, IPropertyStore, IPropertyStoreCapabilities; read only):
 * the tags and format of a file's first link by property key, read from the headers and the end of the file
 * without starting Media Foundation. regsvr32 registers it for the Ogg file extensions (PropertyHandlers, where
 * it may write HKEY_LOCAL_MACHINE, and never over another product's handler). */
/* {CD374A63-BF86-493D-A206-5349DE03F0D3} */
DEFINE_GUID(CLSID_OGGPropertyHandler, 0xcd374a63, 0xbf86, 0x493d, 0xa2, 0x06, 0x53, 0x49, 0xde, 0x03, 0xf0,
            0xd3);

/* The thumbnail provider (IInitializeWithStream, IThumbnailProvider; Windows only): the file's cover art (the
 * picture PKEY_ThumbnailStream carries) decoded with WIC, scaled to fit the size asked for (never up), as a
 * 32-bit top-down bitmap with alpha (WTSAT_ARGB). regsvr32 of the 64-bit module registers it for the Ogg file
 * extensions (SystemFileAssociations\.ext\ShellEx, never over another product's entry). */
/* {2C57AA39-7663-4D73-9620-8B1B871CF09C} */
DEFINE_GUID(CLSID_OGGThumbnailProvider, 0x2c57aa39, 0x7663, 0x4d73, 0x96, 0x20, 0x8b, 0x1b, 0x87, 0x1c, 0xf0,
            0x9c);

/* Not a class: the key of the source's settings, HKEY_CLASSES_ROOT\CLSID\{6E1B0C3A-...}\Defaults. Values:
 *   "Trace"           DWORD: 1 switches the trace log on, 0 off; a value with OGGSOURCE_TRACE_ON set is
 *                     the trace flag word itself. Read when a process loads the module, under
 *                     HKEY_CURRENT_USER\Software\Classes first, then under HKEY_CLASSES_ROOT. The
 *                     environment variable OGGSOURCE_TRACE (same values) overrides it.
 *   "FOURCC Mapping"  subkey: values named "0x%08x" after an OGM video FOURCC, data the FOURCC to
 *                     announce instead (DWORD). */
/* {6E1B0C3A-5D27-4F62-9A1E-0B7C4D2F8E91} */
DEFINE_GUID(CLSID_OGGSourceDefaults, 0x6e1b0c3a, 0x5d27, 0x4f62, 0x9a, 0x1e, 0x0b, 0x7c, 0x4d, 0x2f, 0x8e,
            0x91);

#define OGGSOURCE_SETTINGS_KEY "CLSID\\{6E1B0C3A-5D27-4F62-9A1E-0B7C4D2F8E91}\\Defaults"
#define OGGSOURCE_TRACE_VALUE "Trace"
#define OGGSOURCE_TRACE_ENVIRONMENT "OGGSOURCE_TRACE"
/* Bits of the trace flag word. The log goes to c:\KESTTrace.txt (c:\KESTTrace.txt\KESTTrace.txt where
 * c:\ does not let the process create files). */
#define OGGSOURCE_TRACE_FILE 0x1      /* lines are written to the trace file */
#define OGGSOURCE_TRACE_TIME 0x2      /* time-of-day prefix */
#define OGGSOURCE_TRACE_THREAD 0x4    /* thread id prefix */
#define OGGSOURCE_TRACE_ON 0x8        /* the master switch */
#define OGGSOURCE_TRACE_HANDLES 0x20  /* process handle count prefix */
#define OGGSOURCE_TRACE_DEBUGGER 0x40 /* each line to OutputDebugStringA as well */

/* ---- Media types ----
 * MF_MT_MAJOR_TYPE is MFMediaType_Audio, MFMediaType_Video or MEDIATYPE_Text. MF_MT_AM_FORMAT_TYPE names the
 * DirectShow format block the type was made from; the bytes that follow a WAVEFORMATEX or VIDEOINFOHEADER2 in
 * that block are the type's MF_MT_USER_DATA. */

/* Vorbis. Format type FORMAT_OggVorbis, a 24-byte block (OGGSOURCE_VORBIS_FORMAT). The three Vorbis header
 * packets (identification, comment, setup) are the first three samples of every run (time 0, duration 0),
 * ahead of the audio. Samples carry the time of the end of their audio and no duration. */
/* {CDDCA2D5-6D75-4F98-840E-737BEDD5C63B} */
DEFINE_GUID(MEDIASUBTYPE_OggVorbis, 0xcddca2d5, 0x6d75, 0x4f98, 0x84, 0x0e, 0x73, 0x7b, 0xed, 0xd5, 0xc6,
            0x3b);
/* {6BDDFA7E-9F22-46A9-AB5E-884EFF294D9F} */
DEFINE_GUID(FORMAT_OggVorbis, 0x6bddfa7e, 0x9f22, 0x46a9, 0xab, 0x5e, 0x88, 0x4e, 0xff, 0x29, 0x4d, 0x9f);

/* The Vorbis format block: 32-bit little-endian values. */
typedef struct OGGSOURCE_VORBIS_FORMAT {
    unsigned int channels;
    unsigned int samplesPerSecond;
    int bitrateLower; /* bits per second, from the identification header; 0 or -1: not stated */
    int bitrateNominal;
    int bitrateUpper;
    unsigned int reserved; /* 0 */
} OGGSOURCE_VORBIS_FORMAT;

/* Theora: the FOURCC 'KTHE'. Format type FORMAT_VideoInfo2: a VIDEOINFOHEADER2 (picture size, frame duration,
 * picture aspect ratio) followed by the three header packets: one byte, 3, then for each packet its length
 * (32-bit little-endian) and its bytes. Those bytes after the VIDEOINFOHEADER2 are MF_MT_USER_DATA. One
 * sample per frame, key frames flagged MFSampleExtension_CleanPoint. */
/* {4548544B-0000-0010-8000-00AA00389B71} */
DEFINE_GUID(MEDIASUBTYPE_OggTheora, 0x4548544b, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b,
            0x71);
#define OGGSOURCE_FOURCC_THEORA 0x4548544Bu /* 'KTHE' */

/* Opus: the same GUID as the SDK's MFAudioFormat_Opus (WAVE_FORMAT_OPUS, 0x704F). 48000 samples per second,
 * the stream's channel count, and the Opus identification header ("OpusHead", RFC 7845 section 5.1, with its
 * pre-skip, output gain and channel mapping) as MF_MT_USER_DATA. */
/* {0000704F-0000-0010-8000-00AA00389B71} */
DEFINE_GUID(MEDIASUBTYPE_OggOpus, 0x0000704f, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71);
#define OGGSOURCE_WAVE_FORMAT_OPUS 0x704F

/* FLAC: the same GUID as the SDK's MFAudioFormat_FLAC (WAVE_FORMAT_FLAC, 0xF1AC). Sample rate, channels and
 * bits per sample from STREAMINFO; MF_MT_USER_DATA the FLAC stream header in its shortest form: "fLaC" and the
 * STREAMINFO block marked as the last metadata block (42 bytes); MF_MT_AUDIO_FLAC_MAX_BLOCK_SIZE from
 * STREAMINFO. One sample per FLAC frame. */
/* {0000F1AC-0000-0010-8000-00AA00389B71} */
DEFINE_GUID(MEDIASUBTYPE_OggFLAC, 0x0000f1ac, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71);
#define OGGSOURCE_WAVE_FORMAT_FLAC 0xF1AC

/* Speex: WAVE_FORMAT_SPEEX_VOICE (0xA109), 16 bits per sample, the 80-byte Speex header as MF_MT_USER_DATA.
 */
/* {0000A109-0000-0010-8000-00AA00389B71} */
DEFINE_GUID(MEDIASUBTYPE_OggSpeex, 0x0000a109, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b,
            0x71);
#define OGGSOURCE_WAVE_FORMAT_SPEEX 0xA109

/* OGM streams take the subtype their header states: video {FOURCC-0000-0010-8000-00AA00389B71} with a
 * VIDEOINFOHEADER (the FOURCC can be mapped, see CLSID_OGGSourceDefaults), audio the format tag's GUID with a
 * WAVEFORMATEX, text MEDIATYPE_Text with no subtype; "directx" and DirectShow-embedded streams the major
 * type, subtype and format block they carry. */

/* ---- Attributes ---- */

/* Stream descriptor, UINT32: the codec (OGGSOURCE_CODEC_*). Every stream of this source carries it: a host
 * can tell that the resolver chose this source. */
/* {3F0C2A71-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_SD_OGG_CODEC, 0x3f0c2a71, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
#define OGGSOURCE_CODEC_VORBIS 0
#define OGGSOURCE_CODEC_OGM 1
#define OGGSOURCE_CODEC_THEORA 2
#define OGGSOURCE_CODEC_OPUS 3
#define OGGSOURCE_CODEC_FLAC 4
#define OGGSOURCE_CODEC_SPEEX 5
#define OGGSOURCE_CODEC_SKELETON 6 /* in MF_PD_OGG_LINKS only: no stream descriptor */
#define OGGSOURCE_CODEC_KATE 7     /* in MF_PD_OGG_LINKS only: no stream descriptor */
#define OGGSOURCE_CODEC_UNKNOWN 255

/* Stream descriptor, string: the OGM stream type ("video", "audio", "text", "directx"); absent for other
 * codecs. */
/* {3F0C2A72-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_SD_OGM_TYPE, 0x3f0c2a72, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);

/* Stream descriptor, UINT64 holding a signed 100-ns time on the presentation's timeline: the stream's start
 * (its first data packet) and, when the end of the file was found, its end. */
/* {3F0C2A73-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_SD_OGG_START_TIME, 0x3f0c2a73, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
/* {3F0C2A74-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_SD_OGG_END_TIME, 0x3f0c2a74, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);

/* Presentation descriptor, UINT64 holding a signed 100-ns time: the presentation's origin, the time in the
 * streams' own granule timeline from which sample times, MF_PD_DURATION and start positions count. */
/* {3F0C2A75-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_PD_OGG_ORIGIN, 0x3f0c2a75, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);

/* Presentation descriptor of a chained file (absent for a file of one link), blob of 64-bit signed
 * little-endian values:
 *   [0]                   N, the link count
 *   then for each link:   its first byte in the file, its start on the presentation's timeline (100 ns), its
 *                         duration (100 ns), M, its stream count
 *   then for each stream: its serial number, its codec (OGGSOURCE_CODEC_*), 1 when it is played (continued by
 * a stream of the presentation), else 0 so a link takes OGGSOURCE_LINK_FIELDS + M *
 * OGGSOURCE_LINK_STREAM_FIELDS values. */
/* {3F0C2A76-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_PD_OGG_LINKS, 0x3f0c2a76, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);
#define OGGSOURCE_LINK_FIELDS 4
#define OGGSOURCE_LINK_STREAM_FIELDS 3

/* Sample attribute, IUnknown (IMFMediaType): on the first sample of a link whose format differs, the stream's
 * new type. The stream sends it as MEStreamFormatChanged ahead of the sample and removes it from the sample,
 * so a host sees the event, not the attribute. */
/* {3F0C2A77-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MFSampleExtension_OggFormat, 0x3f0c2a77, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b,
            0x81);

/* Attribute, UINT32: in the value of MESourceMetadataChanged (an IMFAttributes that also holds the presentation
 * descriptor's attributes), the number of the chain's link that plays from now on (the file's first link is 0).
 * The source's property store and metadata provider answer for that link from then on. */
/* {3F0C2A78-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_PD_OGG_LINK, 0x3f0c2a78, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b, 0x81);

/* Attribute, IUnknown (IPropertyStore): in the value of MESourceMetadataChanged, the tags of the link that
 * plays from now on, as the source's property store gives them (the store is read only). */
/* {3F0C2A79-8B4E-4D15-9E62-1A7D30C45B81} */
DEFINE_GUID(MF_PD_OGG_LINK_PROPERTIES, 0x3f0c2a79, 0x8b4e, 0x4d15, 0x9e, 0x62, 0x1a, 0x7d, 0x30, 0xc4, 0x5b,
            0x81);

#endif /* OGGSOURCE_H */
