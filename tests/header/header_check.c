/* Compiles the public header as C, as an application written in C would use it (with the Windows SDK on
 * Windows, with the stand-in's guiddef.h elsewhere), and prints every GUID and number it declares, one per
 * line: "NAME {GUID}" or "NAME NUMBER". */
#ifdef _WIN32
#include <windows.h>
#endif
#include <initguid.h>
#include <stdio.h>

#include "oggsource.h"

static void PrintGuid(const char* name, const GUID* g) {
    printf("%s {%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}\n", name, (unsigned long)g->Data1,
           (unsigned)g->Data2, (unsigned)g->Data3, g->Data4[0], g->Data4[1], g->Data4[2], g->Data4[3],
           g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
}

#define GUID_LINE(name) PrintGuid(#name, &name)
#define NUMBER_LINE(name) printf("%s %lu\n", #name, (unsigned long)(name))

int main(void) {
    GUID_LINE(CLSID_OGGByteStreamHandler);
    GUID_LINE(CLSID_OGGPropertyHandler);
    GUID_LINE(CLSID_OGGThumbnailProvider);
    GUID_LINE(CLSID_OGGSourceDefaults);
    GUID_LINE(MEDIASUBTYPE_OggVorbis);
    GUID_LINE(FORMAT_OggVorbis);
    GUID_LINE(MEDIASUBTYPE_OggTheora);
    GUID_LINE(MEDIASUBTYPE_OggOpus);
    GUID_LINE(MEDIASUBTYPE_OggFLAC);
    GUID_LINE(MEDIASUBTYPE_OggSpeex);
    GUID_LINE(MF_SD_OGG_CODEC);
    GUID_LINE(MF_SD_OGM_TYPE);
    GUID_LINE(MF_SD_OGG_START_TIME);
    GUID_LINE(MF_SD_OGG_END_TIME);
    GUID_LINE(MF_PD_OGG_ORIGIN);
    GUID_LINE(MF_PD_OGG_LINKS);
    GUID_LINE(MFSampleExtension_OggFormat);
    GUID_LINE(MF_PD_OGG_LINK);
    GUID_LINE(MF_PD_OGG_LINK_PROPERTIES);
    NUMBER_LINE(OGGSOURCE_CODEC_VORBIS);
    NUMBER_LINE(OGGSOURCE_CODEC_OGM);
    NUMBER_LINE(OGGSOURCE_CODEC_THEORA);
    NUMBER_LINE(OGGSOURCE_CODEC_OPUS);
    NUMBER_LINE(OGGSOURCE_CODEC_FLAC);
    NUMBER_LINE(OGGSOURCE_CODEC_SPEEX);
    NUMBER_LINE(OGGSOURCE_CODEC_SKELETON);
    NUMBER_LINE(OGGSOURCE_CODEC_KATE);
    NUMBER_LINE(OGGSOURCE_CODEC_UNKNOWN);
    NUMBER_LINE(OGGSOURCE_LINK_FIELDS);
    NUMBER_LINE(OGGSOURCE_LINK_STREAM_FIELDS);
    NUMBER_LINE(OGGSOURCE_FOURCC_THEORA);
    NUMBER_LINE(OGGSOURCE_WAVE_FORMAT_OPUS);
    NUMBER_LINE(OGGSOURCE_WAVE_FORMAT_FLAC);
    NUMBER_LINE(OGGSOURCE_WAVE_FORMAT_SPEEX);
    NUMBER_LINE(OGGSOURCE_TRACE_ON);
    NUMBER_LINE(sizeof(OGGSOURCE_VORBIS_FORMAT));
    printf("OGGSOURCE_SETTINGS_KEY %s\n", OGGSOURCE_SETTINGS_KEY);
    return 0;
}
