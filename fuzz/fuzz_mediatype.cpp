// The module's own conversion of a DirectShow media type to a Media Foundation one (used where the platform's
// conversion refuses or loses a type): the input chooses the major, sub- and format types and is the format block.
#include "fuzz_common.h"
#include "source/mf_type_from_am.h"
#include "support/am_media_type.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Startup();
    if (size < 3) return 0;
    static const GUID majors[] = {MEDIATYPE_Video, MEDIATYPE_Audio, MEDIATYPE_Text, GUID_NULL};
    static const GUID formats[] = {FORMAT_VideoInfo, FORMAT_VideoInfo2, FORMAT_WaveFormatEx, MEDIATYPE_Text, GUID_NULL};
    static const GUID subtypes[] = {MEDIASUBTYPE_RGB24, MEDIASUBTYPE_PCM, GuidFromFourcc(0x44495658), GUID_NULL};
    CAMMediaType t;
    t.SetType(majors[data[0] % 4]);
    t.SetFormatType(formats[data[1] % 5]);
    t.SetSubtype(subtypes[data[2] % 4]);
    t.bTemporalCompression = data[0] & 0x80;
    t.bFixedSizeSamples = data[1] & 0x80;
    t.lSampleSize = data[2];
    if (size > 3) t.SetFormat(data + 3, static_cast<ULONG>(size - 3));
    PlatRef<IMFMediaType> a, b;
    if (SUCCEEDED(MFCreateMediaType(&a))) BuildMediaTypeFromAM(a.Get(), &t);
    if (SUCCEEDED(MFCreateMediaType(&b))) InitMediaTypeFromAM(b.Get(), &t);
    return 0;
}
