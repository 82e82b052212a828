// The public header (include/oggsource.h): compiled as C by header_check, which prints what it declares; its
// GUIDs match the text written beside them, its numbers match the module's, and every subtype, format type
// and attribute it names is what the module announces for files of each codec.
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "common/fixtures.h"
#include "common/shell.h"
#include "ogg/ogg_types.h"
#include "oggsource.h"

namespace {
static_assert(OGGSOURCE_CODEC_VORBIS == CODEC_VORBIS && OGGSOURCE_CODEC_OGM == CODEC_OGM &&
                  OGGSOURCE_CODEC_THEORA == CODEC_THEORA && OGGSOURCE_CODEC_OPUS == CODEC_OPUS &&
                  OGGSOURCE_CODEC_FLAC == CODEC_FLAC && OGGSOURCE_CODEC_SPEEX == CODEC_SPEEX &&
                  OGGSOURCE_CODEC_SKELETON == CODEC_SKELETON && OGGSOURCE_CODEC_KATE == CODEC_KATE &&
                  OGGSOURCE_CODEC_UNKNOWN == CODEC_UNKNOWN,
              "the public header numbers the codecs as the module does");
static_assert(sizeof(OGGSOURCE_VORBIS_FORMAT) == 24, "the Vorbis format block is 24 bytes");

std::string Text(REFGUID g) {
    char s[64];
    std::snprintf(s, sizeof s, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return s;
}

// "NAME VALUE" lines of header_check.
std::map<std::string, std::string> CheckOutput() {
    std::map<std::string, std::string> out;
    ShellOutput o = RunShell(Quote(HEADER_CHECK_PATH));
    EXPECT_EQ(o.status, 0);
    std::istringstream in(o.text);
    for (std::string line; std::getline(in, line);) {
        size_t space = line.find(' ');
        if (space != std::string::npos) out[line.substr(0, space)] = line.substr(space + 1);
    }
    return out;
}

TEST(PublicHeader, CompiledAsCItDeclaresTheGuidsWrittenBesideThem) {
    auto c = CheckOutput();
    std::ifstream in(std::string(OGGSOURCE_SOURCE_DIR) + "/include/oggsource.h");
    std::string header((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Each DEFINE_GUID follows a comment line that gives its GUID as text: "/* {...} */".
    std::istringstream lines(header);
    std::string text;
    int count = 0, defines = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("DEFINE_GUID(", 0) == 0) {
            ++defines;
            const std::string name = line.substr(12, line.find(',') - 12);
            if (text.empty()) continue; // counted below: a DEFINE_GUID without its text
            ++count;
            ASSERT_TRUE(c.count(name)) << name << " is not printed by header_check";
            EXPECT_EQ(c[name], text) << name;
        }
        const bool comment =
            line.size() == 44 && line.rfind("/* {", 0) == 0 && line.compare(40, 4, "} */") == 0;
        text = comment ? line.substr(3, 38) : "";
    }
    EXPECT_EQ(count, defines) << "a DEFINE_GUID without its GUID as text on the line before";
    EXPECT_EQ(count, 19);
    // C and C++ read the same values (the stand-in defines them differently for each).
    EXPECT_EQ(c["CLSID_OGGByteStreamHandler"], Text(CLSID_OGGByteStreamHandler));
    EXPECT_EQ(c["MF_PD_OGG_LINKS"], Text(MF_PD_OGG_LINKS));
    EXPECT_EQ(c["OGGSOURCE_CODEC_SPEEX"], "5");
    EXPECT_EQ(c["sizeof(OGGSOURCE_VORBIS_FORMAT)"], "24");
    EXPECT_EQ(c["OGGSOURCE_SETTINGS_KEY"], "CLSID\\" + Text(CLSID_OGGSourceDefaults) + "\\Defaults");
    EXPECT_EQ(std::stoul(c["OGGSOURCE_FOURCC_THEORA"]), MEDIASUBTYPE_OggTheora.Data1);
    EXPECT_EQ(std::stoul(c["OGGSOURCE_WAVE_FORMAT_OPUS"]), MEDIASUBTYPE_OggOpus.Data1);
    EXPECT_EQ(std::stoul(c["OGGSOURCE_WAVE_FORMAT_FLAC"]), MEDIASUBTYPE_OggFLAC.Data1);
    EXPECT_EQ(std::stoul(c["OGGSOURCE_WAVE_FORMAT_SPEEX"]), MEDIASUBTYPE_OggSpeex.Data1);
}

struct Announced {
    UINT32 codec = 1000;
    GUID subtype = GUID_NULL, format = GUID_NULL;
    std::string userData;
};

std::vector<Announced> Streams(IMFMediaSource* source) {
    std::vector<Announced> v;
    PlatRef<IMFPresentationDescriptor> pd;
    DWORD count = 0;
    EXPECT_EQ(source->CreatePresentationDescriptor(&pd), S_OK);
    pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        PlatRef<IMFMediaTypeHandler> handler;
        PlatRef<IMFMediaType> type;
        Announced a;
        EXPECT_EQ(pd->GetStreamDescriptorByIndex(i, &selected, &sd), S_OK);
        sd->GetUINT32(MF_SD_OGG_CODEC, &a.codec);
        EXPECT_EQ(sd->GetMediaTypeHandler(&handler), S_OK);
        EXPECT_EQ(handler->GetCurrentMediaType(&type), S_OK);
        type->GetGUID(MF_MT_SUBTYPE, &a.subtype);
        type->GetGUID(MF_MT_AM_FORMAT_TYPE, &a.format);
        UINT8* blob = nullptr;
        UINT32 size = 0;
        if (SUCCEEDED(type->GetAllocatedBlob(MF_MT_USER_DATA, &blob, &size))) {
            a.userData.assign(reinterpret_cast<char*>(blob), size);
            CoTaskMemFree(blob);
        }
        v.push_back(a);
    }
    return v;
}

struct HeaderAgainstModule : SourceTest {};

TEST_F(HeaderAgainstModule, EveryCodecGetsTheSubtypeAndDataTheHeaderNames) {
    Fixture f = MakeFile("header-codecs", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1},
        {"kind": "theora", "serial": 2, "seconds": 1, "width": 64, "height": 48}, {"kind": "opus", "serial": 3, "seconds": 1},
        {"kind": "flac", "serial": 4, "seconds": 1}, {"kind": "speex", "serial": 5, "seconds": 1}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    auto streams = Streams(s.source.Get());
    ASSERT_EQ(streams.size(), 5u);
    EXPECT_EQ(streams[0].codec, static_cast<UINT32>(OGGSOURCE_CODEC_VORBIS));
    EXPECT_EQ(streams[0].subtype, MEDIASUBTYPE_OggVorbis);
    EXPECT_EQ(streams[0].format, FORMAT_OggVorbis);
    EXPECT_EQ(streams[1].codec, static_cast<UINT32>(OGGSOURCE_CODEC_THEORA));
    EXPECT_EQ(streams[1].subtype, MEDIASUBTYPE_OggTheora);
    EXPECT_EQ(streams[1].format, FORMAT_VideoInfo2);
    // A count of 3, then the identification header's length (42) and its bytes.
    ASSERT_GE(streams[1].userData.size(), 12u);
    EXPECT_EQ(streams[1].userData.substr(0, 5), std::string("\x03\x2a\x00\x00\x00", 5));
    EXPECT_EQ(streams[1].userData.substr(5, 7), "\x80theora");
    EXPECT_EQ(streams[2].codec, static_cast<UINT32>(OGGSOURCE_CODEC_OPUS));
    EXPECT_EQ(streams[2].subtype, MEDIASUBTYPE_OggOpus);
    EXPECT_EQ(streams[2].userData.substr(0, 8), "OpusHead");
    EXPECT_EQ(streams[3].codec, static_cast<UINT32>(OGGSOURCE_CODEC_FLAC));
    EXPECT_EQ(streams[3].subtype, MEDIASUBTYPE_OggFLAC);
    EXPECT_EQ(streams[3].userData.substr(0, 4), "fLaC");
    EXPECT_EQ(streams[4].codec, static_cast<UINT32>(OGGSOURCE_CODEC_SPEEX));
    EXPECT_EQ(streams[4].subtype, MEDIASUBTYPE_OggSpeex);
    EXPECT_EQ(streams[4].userData.substr(0, 8), "Speex   ");
    unlink(f.path.c_str());
}

// The links blob has the layout the header describes: its size follows from the counts it holds.
TEST_F(HeaderAgainstModule, TheLinksBlobHasTheLayoutTheHeaderDescribes) {
    Fixture f =
        MakeFile("header-chain", R"({"links": [{"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1},
        {"kind": "skeleton", "serial": 9}]}, {"streams": [{"kind": "vorbis", "serial": 2, "seconds": 1}]}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IMFPresentationDescriptor> pd;
    ASSERT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    UINT8* blob = nullptr;
    UINT32 size = 0;
    ASSERT_EQ(pd->GetAllocatedBlob(MF_PD_OGG_LINKS, &blob, &size), S_OK);
    std::vector<int64_t> v(size / 8);
    std::memcpy(v.data(), blob, v.size() * 8);
    CoTaskMemFree(blob);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v[0], 2);
    size_t at = 1;
    std::vector<int64_t> codecs;
    for (int64_t k = 0; k < v[0] && at + OGGSOURCE_LINK_FIELDS <= v.size(); ++k) {
        const int64_t m = v[at + 3];
        at += OGGSOURCE_LINK_FIELDS;
        for (int64_t j = 0; j < m && at + OGGSOURCE_LINK_STREAM_FIELDS <= v.size();
             ++j, at += OGGSOURCE_LINK_STREAM_FIELDS)
            codecs.push_back(v[at + 1]);
    }
    EXPECT_EQ(at, v.size()) << "the blob holds exactly what its counts say";
    EXPECT_EQ(codecs, (std::vector<int64_t>{OGGSOURCE_CODEC_VORBIS, OGGSOURCE_CODEC_SKELETON,
                                            OGGSOURCE_CODEC_VORBIS}));
    unlink(f.path.c_str());
}
} // namespace
