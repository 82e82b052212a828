// The module's own DirectShow-to-Media-Foundation conversion (used where a host's Media Foundation refuses
// a type or leaves it incomplete) against the platform's conversion.
#include <cstring>
#include <gtest/gtest.h>

#include "ogg/media_types.h"
#include "platform/com_impl.h"
#include "source/mf_type_from_am.h"

namespace {
AM_MEDIA_TYPE Type(REFGUID major, REFGUID sub, REFGUID format, void* block, ULONG size) {
    AM_MEDIA_TYPE am{};
    am.majortype = major;
    am.subtype = sub;
    am.formattype = format;
    am.bTemporalCompression = TRUE;
    am.cbFormat = size;
    am.pbFormat = static_cast<BYTE*>(block);
    return am;
}

// Every attribute our conversion sets has the platform's value; returns how many it set.
UINT32 ExpectSubsetOfPlatform(const AM_MEDIA_TYPE& am, bool wholeBlockAsUserData) {
    PlatRef<IMFMediaType> ours, platform;
    MFCreateMediaType(&ours);
    MFCreateMediaType(&platform);
    EXPECT_EQ(BuildMediaTypeFromAM(ours.Get(), &am), S_OK);
    EXPECT_EQ(MFInitMediaTypeFromAMMediaType(platform.Get(), &am), S_OK);
    UINT32 count = 0;
    ours->GetCount(&count);
    for (UINT32 i = 0; i < count; ++i) {
        GUID key;
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED(ours->GetItemByIndex(i, &key, &value))) {
            ADD_FAILURE() << "item " << i;
            continue;
        }
        if (wholeBlockAsUserData && IsEqualGUID(key, MF_MT_USER_DATA)) {
            EXPECT_EQ(value.caub.cElems, am.cbFormat); // blobs are byte vectors
            EXPECT_EQ(std::memcmp(value.caub.pElems, am.pbFormat, am.cbFormat), 0);
        } else {
            BOOL same = FALSE;
            EXPECT_EQ(platform->CompareItem(key, value, &same), S_OK);
            EXPECT_TRUE(same) << "attribute " << i << " differs from the platform's";
        }
        PropVariantClear(&value);
    }
    return count;
}

TEST(MediaTypeFromAM, AgreesWithThePlatformOnEveryFieldItSets) {
    struct {
        WAVEFORMATEX wf;
        BYTE extra[6];
    } audio{};
    audio.wf = {0x674f, 2, 44100, 16000, 4, 16, 6};
    std::memcpy(audio.extra, "vorbis", 6);
    AM_MEDIA_TYPE am = Type(MEDIATYPE_Audio, GuidFromFourcc(0x674f), FORMAT_WaveFormatEx, &audio, sizeof audio);
    EXPECT_EQ(ExpectSubsetOfPlatform(am, false), 11u) << "three GUIDs, two flags, five audio fields, the extra bytes";
    audio.wf.cbSize = 200; // more extra bytes claimed than the block holds: cut to the block
    EXPECT_EQ(ExpectSubsetOfPlatform(am, false), 11u);
    am.bFixedSizeSamples = TRUE;
    am.lSampleSize = 4;
    EXPECT_EQ(ExpectSubsetOfPlatform(am, false), 12u) << "and the sample size";

    struct {
        VIDEOINFOHEADER vih;
        BYTE extra[3];
    } video{};
    video.vih.AvgTimePerFrame = 333667; // 29.97 fps
    video.vih.dwBitRate = 800000;
    video.vih.bmiHeader.biWidth = 640;
    video.vih.bmiHeader.biHeight = -480; // top-down
    AM_MEDIA_TYPE vm = Type(MEDIATYPE_Video, GuidFromFourcc(0x44495658), FORMAT_VideoInfo, &video, sizeof video);
    EXPECT_EQ(ExpectSubsetOfPlatform(vm, false), 10u) << "GUIDs, flags, size, rate, bitrate, aspect, extra bytes";

    VIDEOINFOHEADER2 vih2{};
    vih2.AvgTimePerFrame = 400000;
    vih2.dwPictAspectRatioX = 16;
    vih2.dwPictAspectRatioY = 9;
    vih2.bmiHeader.biWidth = 720;
    vih2.bmiHeader.biHeight = 576;
    AM_MEDIA_TYPE v2 = Type(MEDIATYPE_Video, GuidFromFourcc(0x4548544b), FORMAT_VideoInfo2, &vih2, sizeof vih2);
    EXPECT_EQ(ExpectSubsetOfPlatform(v2, false), 8u) << "GUIDs, flags, size, rate, pixel aspect";
    vih2.dwPictAspectRatioX = 0; // no aspect: no pixel aspect ratio
    EXPECT_EQ(ExpectSubsetOfPlatform(v2, false), 7u);

    // A format Media Foundation has no fields for (the Vorbis block) travels whole as the user data.
    BYTE vorbis[40];
    for (size_t i = 0; i < sizeof vorbis; ++i) vorbis[i] = static_cast<BYTE>(i * 7);
    AM_MEDIA_TYPE ov = Type(MEDIATYPE_Audio, MEDIASUBTYPE_OggVorbis, FORMAT_OggVorbis, vorbis, sizeof vorbis);
    EXPECT_EQ(ExpectSubsetOfPlatform(ov, true), 6u);
    // Blocks too short for their format type: the GUIDs and flags only.
    AM_MEDIA_TYPE shortVideo = Type(MEDIATYPE_Video, GuidFromFourcc(0x4548544b), FORMAT_VideoInfo2, &vih2, 10);
    EXPECT_EQ(ExpectSubsetOfPlatform(shortVideo, false), 5u);
    AM_MEDIA_TYPE shortAudio = Type(MEDIATYPE_Audio, GuidFromFourcc(1), FORMAT_WaveFormatEx, &audio, 17);
    EXPECT_EQ(ExpectSubsetOfPlatform(shortAudio, false), 5u);
    // No format at all (the OGM text stream).
    AM_MEDIA_TYPE text = Type(MEDIATYPE_Text, GUID_NULL, GUID_NULL, nullptr, 0);
    EXPECT_EQ(ExpectSubsetOfPlatform(text, false), 5u);
}

TEST(MediaTypeFromAM, RefusesBadArgumentsAndStartsFromAnEmptyType) {
    PlatRef<IMFMediaType> t;
    MFCreateMediaType(&t);
    AM_MEDIA_TYPE am = Type(MEDIATYPE_Video, GuidFromFourcc(0x4548544b), FORMAT_VideoInfo2, nullptr, 16);
    EXPECT_EQ(BuildMediaTypeFromAM(t.Get(), &am), E_INVALIDARG) << "a block size without a block";
    EXPECT_EQ(BuildMediaTypeFromAM(t.Get(), nullptr), E_POINTER);
    EXPECT_EQ(BuildMediaTypeFromAM(nullptr, &am), E_POINTER);

    t->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 6);
    AM_MEDIA_TYPE text = Type(MEDIATYPE_Text, GUID_NULL, GUID_NULL, nullptr, 0);
    ASSERT_EQ(InitMediaTypeFromAM(t.Get(), &text), S_OK);
    UINT32 v = 0;
    EXPECT_EQ(t->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &v), MF_E_ATTRIBUTENOTFOUND) << "what the type held is gone";
    GUID major = GUID_NULL;
    EXPECT_EQ(t->GetGUID(MF_MT_MAJOR_TYPE, &major), S_OK);
    EXPECT_TRUE(IsEqualGUID(major, MEDIATYPE_Text));
}
} // namespace
