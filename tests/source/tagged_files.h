// Tagged files made at test time by the encoders, and the readers the tag tests share: a property store's
// strings and numbers, its cover's bytes, descriptor attributes, and the values the tools list.
#pragma once
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>

#include "common/fixtures.h"
#include "common/shell.h"
#include "source/polling_host.h"

namespace {
std::string Utf8(const WCHAR* w) {
    std::string out;
    for (; w && *w; ++w) {
        const uint32_t c = static_cast<uint32_t>(*w);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6), out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12), out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18), out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F)), out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A PROPVARIANT's strings (one for VT_LPWSTR, each of a vector); none for another kind.
std::vector<std::string> Strings(const PROPVARIANT& v) {
    std::vector<std::string> out;
    if (v.vt == VT_LPWSTR) out.push_back(Utf8(v.pwszVal));
    if (v.vt == (VT_VECTOR | VT_LPWSTR))
        for (ULONG i = 0; i < v.calpwstr.cElems; ++i)
            out.push_back(Utf8(v.calpwstr.pElems[i]));
    return out;
}

std::vector<uint8_t> ReadAll(IStream* s) {
    std::vector<uint8_t> out;
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    uint8_t chunk[65536];
    for (ULONG got = 0; SUCCEEDED(s->Read(chunk, sizeof(chunk), &got)) && got > 0;)
        out.insert(out.end(), chunk, chunk + got);
    return out;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Base64(const std::vector<uint8_t>& in) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t v =
            in[i] << 16 | (i + 1 < in.size() ? in[i + 1] << 8 : 0) | (i + 2 < in.size() ? in[i + 2] : 0);
        out += a[v >> 18 & 63], out += a[v >> 12 & 63];
        out += i + 1 < in.size() ? a[v >> 6 & 63] : '=';
        out += i + 2 < in.size() ? a[v & 63] : '=';
    }
    return out;
}

void BE32(std::vector<uint8_t>* b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        b->push_back(static_cast<uint8_t>(v >> s));
}

// A FLAC picture structure of a front cover.
std::vector<uint8_t> PictureBlock(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> b;
    const std::string mime = "image/png", description = "Front";
    BE32(&b, 3);
    BE32(&b, static_cast<uint32_t>(mime.size()));
    b.insert(b.end(), mime.begin(), mime.end());
    BE32(&b, static_cast<uint32_t>(description.size()));
    b.insert(b.end(), description.begin(), description.end());
    for (int i = 0; i < 4; ++i)
        BE32(&b, 0);
    BE32(&b, static_cast<uint32_t>(image.size()));
    b.insert(b.end(), image.begin(), image.end());
    return b;
}

struct Tagged : SourceTest {
    void SetUp() override {
        SourceTest::SetUp();
        char tmpl[] = "/tmp/oggsource-stags-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i sine=f=440:d=2 -ac 2 " + Path("in.wav")), 0);
        ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i color=red:s=32x24 -frames:v 1 " + Path("cover.png")),
                  0);
        m_cover = FileBytes(File("cover.png"));
        ASSERT_GT(m_cover.size(), 0u);
    }
    void TearDown() override {
        std::system(("rm -rf " + Quote(m_dir)).c_str());
        SourceTest::TearDown();
    }
    std::string Path(const std::string& name) const { return Quote(m_dir + "/" + name); }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    static int Run(const std::string& command) { return RunShell(command + " >/dev/null 2>&1").status; }
    static std::vector<std::string> ToolValues(const std::string& command, const std::string& key) {
        ShellOutput o = RunShell("LC_ALL=C.UTF-8 " + command + " 2>/dev/null");
        EXPECT_EQ(o.status, 0) << command;
        std::vector<std::string> values;
        std::stringstream in(o.text);
        for (std::string line; std::getline(in, line);) {
            const size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos) continue;
            line = line.substr(start);
            if (strncasecmp(line.c_str(), (key + "=").c_str(), key.size() + 1) == 0)
                values.push_back(line.substr(key.size() + 1));
        }
        return values;
    }
    // A Vorbis file made by oggenc with the cover added by vorbiscomment.
    void MakeVorbis() {
        ASSERT_EQ(
            Run("oggenc -Q -t 'Ein Titel' -a 'Erste' -c 'ARTIST=Zweite' -l 'Das Album' -G Jazz -N 03/12 "
                "-d 2001-05-06 -c 'COMMENT=Ein Kommentar' -c LANGUAGE=de -c ALBUMARTIST=Viele -o " +
                Path("plain.ogg") + " " + Path("in.wav")),
            0);
        std::ofstream comments(File("comments.txt"), std::ios::binary);
        ShellOutput listed = RunShell("vorbiscomment -l -R " + Path("plain.ogg"));
        comments << listed.text << "METADATA_BLOCK_PICTURE=" << Base64(PictureBlock(m_cover)) << "\n";
        comments.close();
        ASSERT_EQ(Run("vorbiscomment -w -R -c " + Path("comments.txt") + " " + Path("plain.ogg") + " " +
                      Path("v.ogg")),
                  0);
    }
    PlatRef<IPropertyStore> Store(IMFMediaSource* source) {
        PlatRef<IPropertyStore> store;
        EXPECT_EQ(MFGetService(source, MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                               reinterpret_cast<void**>(&store)),
                  S_OK);
        return store;
    }
    static PlatRef<IMFMetadataProvider> Provider(IMFMediaSource* source) {
        PlatRef<IMFMetadataProvider> provider;
        EXPECT_EQ(MFGetService(source, MF_METADATA_PROVIDER_SERVICE, IID_IMFMetadataProvider,
                               reinterpret_cast<void**>(&provider)),
                  S_OK);
        return provider;
    }
    // The presentation's metadata, as the provider gives it.
    static PlatRef<IMFMetadata> PresentationMetadata(IMFMediaSource* source, IMFMetadataProvider* provider) {
        PlatRef<IMFPresentationDescriptor> pd;
        PlatRef<IMFMetadata> metadata;
        EXPECT_EQ(source->CreatePresentationDescriptor(&pd), S_OK);
        if (pd && provider) {
            EXPECT_EQ(provider->GetMFMetadata(pd.Get(), 0, 0, &metadata), S_OK);
        }
        return metadata;
    }
    static std::vector<std::string> StoreStrings(IPropertyStore* store, REFPROPERTYKEY key) {
        PROPVARIANT v;
        PropVariantInit(&v);
        EXPECT_EQ(store->GetValue(key, &v), S_OK);
        std::vector<std::string> s = Strings(v);
        PropVariantClear(&v);
        return s;
    }
    static uint64_t StoreNumber(IPropertyStore* store, REFPROPERTYKEY key, VARTYPE vt) {
        PROPVARIANT v;
        PropVariantInit(&v);
        EXPECT_EQ(store->GetValue(key, &v), S_OK);
        EXPECT_EQ(v.vt, vt);
        const uint64_t n = v.vt == VT_UI4 ? v.ulVal : v.vt == VT_UI8 ? v.uhVal.QuadPart : ~0ull;
        PropVariantClear(&v);
        return n;
    }
    // A store of MakeVorbis's v.ogg: its tags as vorbiscomment lists them, its format as oggenc wrote it.
    void ExpectOggencStore(IPropertyStore* store) const {
        const std::string list = "vorbiscomment -l -R " + Path("v.ogg");
        EXPECT_EQ(StoreStrings(store, PKEY_Title), ToolValues(list, "TITLE"));
        EXPECT_EQ(StoreStrings(store, PKEY_Music_Artist), ToolValues(list, "ARTIST"));
        EXPECT_EQ(ToolValues(list, "ARTIST").size(), 2u);
        EXPECT_EQ(StoreStrings(store, PKEY_Music_AlbumTitle), ToolValues(list, "ALBUM"));
        EXPECT_EQ(StoreStrings(store, PKEY_Music_AlbumArtist), ToolValues(list, "ALBUMARTIST"));
        EXPECT_EQ(StoreStrings(store, PKEY_Music_Genre), ToolValues(list, "GENRE"));
        EXPECT_EQ(StoreStrings(store, PKEY_Comment), ToolValues(list, "COMMENT"));
        EXPECT_EQ(StoreNumber(store, PKEY_Music_TrackNumber, VT_UI4), 3u);
        EXPECT_EQ(StoreNumber(store, PKEY_Media_Year, VT_UI4), 2001u);
        EXPECT_EQ(StoreNumber(store, PKEY_Audio_ChannelCount, VT_UI4), 2u);
        EXPECT_EQ(StoreNumber(store, PKEY_Audio_SampleRate, VT_UI4), 44100u);
    }
    // The store's cover is the picture put in, byte for byte.
    void ExpectCover(IPropertyStore* store) const {
        PROPVARIANT v;
        PropVariantInit(&v);
        ASSERT_EQ(store->GetValue(PKEY_ThumbnailStream, &v), S_OK);
        ASSERT_EQ(v.vt, VT_STREAM);
        EXPECT_EQ(ReadAll(v.pStream), m_cover);
        PropVariantClear(&v);
    }
    static std::string Attribute(IMFAttributes* a, REFGUID key) {
        WCHAR* text = nullptr;
        UINT32 length = 0;
        if (FAILED(a->GetAllocatedString(key, &text, &length))) return "<none>";
        std::string s = Utf8(text);
        CoTaskMemFree(text);
        return s;
    }

    std::string m_dir;
    std::vector<uint8_t> m_cover;
};
} // namespace
