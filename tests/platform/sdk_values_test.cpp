// The stand-in's GUIDs and property keys against the SDK headers of the Windows build (mingw-w64), read as
// text: a value typed wrong here, or a name the Windows build would resolve differently, fails.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {
struct Parsed {
    std::vector<unsigned long long> values; // the GUID's 11 fields, and the property id of a key
};

// The definition at `at` ("NAME, 0x..., ...)" after a macro's name), parsed into `found`.
void ParseDefinition(const std::string& s, size_t at, std::map<std::string, Parsed>* found) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t'))
        ++at;
    if (at >= s.size() || s[at] != '(') return;
    const size_t close = s.find(')', at);
    if (close == std::string::npos) return;
    std::stringstream fields(s.substr(at + 1, close - at - 1));
    std::string name, field;
    std::getline(fields, name, ',');
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    Parsed p;
    while (std::getline(fields, field, ','))
        p.values.push_back(std::strtoull(field.c_str(), nullptr, 0));
    found->emplace(name, p);
}

// Every DEFINE_GUID, EXTERN_GUID and DEFINE_PROPERTYKEY of the headers, by name.
std::map<std::string, Parsed> ReadHeaders(const std::vector<std::string>& names) {
    std::map<std::string, Parsed> found;
    for (const std::string& name : names) {
        std::ifstream in(std::string(OGGSOURCE_MINGW_INCLUDE) + "/" + name);
        EXPECT_TRUE(in) << name << " is missing: ./run setup installs mingw-w64-x86-64-dev";
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        for (const std::string macro : {"DEFINE_PROPERTYKEY", "DEFINE_GUID", "EXTERN_GUID"})
            for (size_t at = s.find(macro); at != std::string::npos; at = s.find(macro, at + 1))
                ParseDefinition(s, at + macro.size(), &found);
    }
    return found;
}

std::vector<unsigned long long> Fields(const GUID& g) {
    std::vector<unsigned long long> v{g.Data1, g.Data2, g.Data3};
    for (BYTE b : g.Data4)
        v.push_back(b);
    return v;
}

const std::map<std::string, Parsed>& Headers() {
    static const auto headers =
        ReadHeaders({"propkey.h", "propsys.h", "objidl.h", "mfidl.h", "mfapi.h", "mfobjects.h", "shlguid.h"});
    return headers;
}

void ExpectGuid(const char* name, const GUID& ours) {
    auto it = Headers().find(name);
    ASSERT_NE(it, Headers().end()) << name << " is not in the SDK headers";
    EXPECT_EQ(Fields(ours), it->second.values) << name;
}

void ExpectKey(const char* name, const PROPERTYKEY& ours, const char* fmtidFrom = nullptr) {
    auto it = Headers().find(name);
    ASSERT_NE(it, Headers().end()) << name << " is not in propkey.h";
    ASSERT_EQ(it->second.values.size(), 12u) << name;
    EXPECT_EQ(ours.pid, it->second.values[11]) << name;
    if (fmtidFrom) {
        ExpectGuid(fmtidFrom, ours.fmtid);
        return;
    }
    std::vector<unsigned long long> fmtid(it->second.values.begin(), it->second.values.begin() + 11);
    EXPECT_EQ(Fields(ours.fmtid), fmtid) << name;
}
} // namespace

#define EXPECT_SDK_GUID(name) ExpectGuid(#name, name)
#define EXPECT_SDK_KEY(name) ExpectKey(#name, name)

TEST(SdkValues, InterfacesAndServicesOfThePropertySystem) {
    EXPECT_SDK_GUID(IID_IStream);
    EXPECT_SDK_GUID(IID_ISequentialStream);
    EXPECT_SDK_GUID(IID_IPropertyStore);
    EXPECT_SDK_GUID(IID_IPropertyStoreCapabilities);
    EXPECT_SDK_GUID(IID_IInitializeWithStream);
    EXPECT_SDK_GUID(IID_IMFMetadata);
    EXPECT_SDK_GUID(IID_IMFMetadataProvider);
    EXPECT_SDK_GUID(MF_METADATA_PROVIDER_SERVICE);
    EXPECT_SDK_GUID(MF_PROPERTY_HANDLER_SERVICE);
    EXPECT_SDK_GUID(MF_SD_LANGUAGE);
    EXPECT_SDK_GUID(MF_SD_STREAM_NAME);
    EXPECT_SDK_GUID(MF_PD_DURATION);
}

TEST(SdkValues, MediaFoundationInterfacesAndAttributes) {
    EXPECT_SDK_GUID(IID_IMFAttributes);
    EXPECT_SDK_GUID(IID_IMFMediaBuffer);
    EXPECT_SDK_GUID(IID_IMFSample);
    EXPECT_SDK_GUID(IID_IMFMediaType);
    EXPECT_SDK_GUID(IID_IMFMediaEvent);
    EXPECT_SDK_GUID(IID_IMFMediaEventGenerator);
    EXPECT_SDK_GUID(IID_IMFMediaEventQueue);
    EXPECT_SDK_GUID(IID_IMFAsyncCallback);
    EXPECT_SDK_GUID(IID_IMFAsyncResult);
    EXPECT_SDK_GUID(IID_IMFByteStream);
    EXPECT_SDK_GUID(IID_IMFStreamDescriptor);
    EXPECT_SDK_GUID(IID_IMFMediaTypeHandler);
    EXPECT_SDK_GUID(IID_IMFPresentationDescriptor);
    EXPECT_SDK_GUID(IID_IMFMediaSource);
    EXPECT_SDK_GUID(IID_IMFMediaStream);
    EXPECT_SDK_GUID(IID_IMFRateControl);
    EXPECT_SDK_GUID(IID_IMFRateSupport);
    EXPECT_SDK_GUID(IID_IMFGetService);
    EXPECT_SDK_GUID(IID_IMFSourceResolver);
    EXPECT_SDK_GUID(MF_RATE_CONTROL_SERVICE);
    EXPECT_SDK_GUID(MF_MT_MAJOR_TYPE);
    EXPECT_SDK_GUID(MF_MT_SUBTYPE);
    EXPECT_SDK_GUID(MF_MT_ALL_SAMPLES_INDEPENDENT);
    EXPECT_SDK_GUID(MF_MT_FIXED_SIZE_SAMPLES);
    EXPECT_SDK_GUID(MF_MT_COMPRESSED);
    EXPECT_SDK_GUID(MF_MT_SAMPLE_SIZE);
    EXPECT_SDK_GUID(MF_MT_AM_FORMAT_TYPE);
    EXPECT_SDK_GUID(MF_MT_USER_DATA);
    EXPECT_SDK_GUID(MF_MT_FRAME_SIZE);
    EXPECT_SDK_GUID(MF_MT_FRAME_RATE);
    EXPECT_SDK_GUID(MF_MT_PIXEL_ASPECT_RATIO);
    EXPECT_SDK_GUID(MF_MT_AVG_BITRATE);
    EXPECT_SDK_GUID(MF_MT_INTERLACE_MODE);
    EXPECT_SDK_GUID(MF_MT_AUDIO_NUM_CHANNELS);
    EXPECT_SDK_GUID(MF_MT_AUDIO_SAMPLES_PER_SECOND);
    EXPECT_SDK_GUID(MF_MT_AUDIO_AVG_BYTES_PER_SECOND);
    EXPECT_SDK_GUID(MF_MT_AUDIO_BLOCK_ALIGNMENT);
    EXPECT_SDK_GUID(MF_MT_AUDIO_BITS_PER_SAMPLE);
    EXPECT_SDK_GUID(MF_BYTESTREAM_CONTENT_TYPE);
    EXPECT_SDK_GUID(MFSampleExtension_CleanPoint);
    EXPECT_SDK_GUID(MFSampleExtension_Discontinuity);
    EXPECT_SDK_GUID(MFSampleExtension_Token);
    EXPECT_SDK_GUID(MF_EVENT_SOURCE_ACTUAL_START);
    EXPECT_SDK_GUID(AM_MEDIA_TYPE_REPRESENTATION);
}

TEST(SdkValues, PresentationAttributesTheHeadersLackFollowMicrosoftsNumbering) {
    // mingw-w64 10 has MF_PD_DURATION only; Microsoft numbers the others on from it ({6c990d3N-...}, same
    // tail).
    for (const char* name : {"MF_PD_TOTAL_FILE_SIZE", "MF_PD_AUDIO_ENCODING_BITRATE", "MF_PD_MIME_TYPE",
                             "MF_PD_LAST_MODIFIED_TIME", "MF_PD_AUDIO_ISVARIABLEBITRATE"})
        EXPECT_EQ(Headers().count(name), 0u)
            << name << " is in the headers now: sdk.h must not define it again";
    const GUID numbered[] = {
        MF_PD_DURATION,  MF_PD_TOTAL_FILE_SIZE,   MF_PD_AUDIO_ENCODING_BITRATE, MF_PD_VIDEO_ENCODING_BITRATE,
        MF_PD_MIME_TYPE, MF_PD_LAST_MODIFIED_TIME};
    const std::vector<unsigned long long> duration = Fields(MF_PD_DURATION);
    for (size_t i = 0; i < std::size(numbered); ++i) {
        const std::vector<unsigned long long> fields = Fields(numbered[i]);
        EXPECT_EQ(fields[0], 0x6c990d33u + i);
        EXPECT_TRUE(std::equal(fields.begin() + 1, fields.end(), duration.begin() + 1)) << i;
    }
    EXPECT_EQ(Fields(MF_PD_AUDIO_ISVARIABLEBITRATE),
              (std::vector<unsigned long long>{0x33026ee0, 0xe387, 0x4582, 0xae, 0x0a, 0x34, 0xa2, 0xad, 0x3b,
                                               0xaa, 0x18}));
}

TEST(SdkValues, PropertyKeys) {
    EXPECT_SDK_KEY(PKEY_Title);
    EXPECT_SDK_KEY(PKEY_Author);
    EXPECT_SDK_KEY(PKEY_Comment);
    EXPECT_SDK_KEY(PKEY_ThumbnailStream);
    EXPECT_SDK_KEY(PKEY_Language);
    EXPECT_SDK_KEY(PKEY_Copyright);
    EXPECT_SDK_KEY(PKEY_Music_Artist);
    EXPECT_SDK_KEY(PKEY_Music_AlbumTitle);
    EXPECT_SDK_KEY(PKEY_Media_Year);
    EXPECT_SDK_KEY(PKEY_Music_TrackNumber);
    EXPECT_SDK_KEY(PKEY_Music_Genre);
    EXPECT_SDK_KEY(PKEY_Music_AlbumArtist);
    EXPECT_SDK_KEY(PKEY_Music_Composer);
    EXPECT_SDK_KEY(PKEY_Media_Duration);
    EXPECT_SDK_KEY(PKEY_Audio_EncodingBitrate);
    EXPECT_SDK_KEY(PKEY_Audio_IsVariableBitRate);
    EXPECT_SDK_KEY(PKEY_Video_FrameWidth);
    EXPECT_SDK_KEY(PKEY_Video_FrameHeight);
    EXPECT_SDK_KEY(PKEY_Video_FrameRate);
    EXPECT_SDK_KEY(PKEY_Video_EncodingBitrate);
}

TEST(SdkValues, AudioKeysCarryTheAudioSummaryFormatId) {
    // propkey.h gives these a format id that differs from FMTID_AudioSummaryInformation in one byte (8B80 for
    // 8B70); the property ids are right. The system's keys are in the audio summary set.
    ExpectKey("PKEY_Audio_SampleRate", PKEY_Audio_SampleRate, "FMTID_AudioSummaryInformation");
    ExpectKey("PKEY_Audio_SampleSize", PKEY_Audio_SampleSize, "FMTID_AudioSummaryInformation");
    ExpectKey("PKEY_Audio_ChannelCount", PKEY_Audio_ChannelCount, "FMTID_AudioSummaryInformation");
    ExpectGuid("FMTID_AudioSummaryInformation", PKEY_Media_Duration.fmtid);
    ExpectGuid("FMTID_AudioSummaryInformation", PKEY_Audio_EncodingBitrate.fmtid);
}
