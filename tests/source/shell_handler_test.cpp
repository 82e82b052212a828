// The shell property handler as Explorer uses it: created by class, initialized with a stream over the file,
// read by property key. Its values are the tools' raw values and, key by key, the source's property store's;
// it reads the headers and the end of a file only; bad files give an error or the good tags; it keeps the
// module loaded while held.
#include <algorithm>
#include <atomic>

#include <ogg/ogg.h>

#include "common/module_watch.h"
#include "oggsource.h"
#include "source/tagged_files.h"

namespace {
// A stream that counts the bytes read through it and hands every call to the stream it wraps.
class CountingStream final : public IStream {
public:
    explicit CountingStream(IStream* inner) : m_inner(inner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(CountingStream, IStream), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override {
        ULONG n = 0;
        const HRESULT hr = m_inner->Read(pv, cb, &n);
        m_bytes += n;
        if (read) *read = n;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* written) override {
        return m_inner->Write(pv, cb, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
        return m_inner->Seek(move, origin, at);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override { return m_inner->SetSize(size); }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL; // would read past the count
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return m_inner->Commit(flags); }
    HRESULT STDMETHODCALLTYPE Revert() override { return m_inner->Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return m_inner->Stat(stat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
    uint64_t Bytes() const { return m_bytes; }

private:
    ~CountingStream() = default;
    PlatRef<IStream> m_inner;
    std::atomic<ULONG> m_refs{1};
    std::atomic<uint64_t> m_bytes{0};
};

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

struct ShellHandler : Tagged {
    // A handler made by class, as the shell makes it.
    static PlatRef<IInitializeWithStream> NewHandler() {
        PlatRef<IInitializeWithStream> init;
        EXPECT_EQ(CoCreateInstance(CLSID_OGGPropertyHandler, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IInitializeWithStream, reinterpret_cast<void**>(&init)),
                  S_OK);
        return init;
    }
    // The handler's store over the file; bytes, when given, the bytes it read.
    static PlatRef<IPropertyStore> HandlerStore(const std::string& path, uint64_t* bytes = nullptr,
                                                HRESULT* initialized = nullptr) {
        PlatRef<IStream> file;
        EXPECT_EQ(SHCreateStreamOnFileEx(Wide(path).c_str(), STGM_READ, 0, FALSE, nullptr, &file), S_OK);
        PlatRef<IPropertyStore> store;
        PlatRef<IInitializeWithStream> init = NewHandler();
        if (!file || !init) return store;
        CountingStream* counted = new CountingStream(file.Get());
        const HRESULT hr = init->Initialize(counted, STGM_READ);
        if (bytes) *bytes = counted->Bytes();
        counted->Release();
        if (initialized)
            *initialized = hr;
        else
            EXPECT_EQ(hr, S_OK) << path;
        EXPECT_EQ(init->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store)), S_OK);
        return store;
    }
    // Two values alike: the same kind, the same strings, number or stream bytes.
    static void ExpectSameValue(const PROPVARIANT& a, const PROPVARIANT& b, const std::string& what) {
        ASSERT_EQ(a.vt, b.vt) << what;
        if (a.vt == VT_UI4)
            EXPECT_EQ(a.ulVal, b.ulVal) << what;
        else if (a.vt == VT_UI8)
            EXPECT_EQ(a.uhVal.QuadPart, b.uhVal.QuadPart) << what;
        else if (a.vt == VT_STREAM)
            EXPECT_EQ(ReadAll(a.pStream), ReadAll(b.pStream)) << what;
        else if (a.vt == VT_LPWSTR || a.vt == (VT_VECTOR | VT_LPWSTR))
            EXPECT_EQ(Strings(a), Strings(b)) << what;
        else
            ADD_FAILURE() << what << ": a kind the store does not hand out, " << a.vt;
    }
    // Every key of either store has the same value in the other; returns how many keys the source's store
    // has.
    static DWORD ExpectSameStores(IPropertyStore* source, IPropertyStore* handler) {
        DWORD count = 0, handlerCount = 0;
        EXPECT_EQ(source->GetCount(&count), S_OK);
        EXPECT_EQ(handler->GetCount(&handlerCount), S_OK);
        EXPECT_EQ(count, handlerCount);
        for (IPropertyStore* listed : {source, handler}) {
            DWORD n = 0;
            listed->GetCount(&n);
            for (DWORD i = 0; i < n; ++i) {
                PROPERTYKEY key{};
                EXPECT_EQ(listed->GetAt(i, &key), S_OK);
                PROPVARIANT a, b;
                PropVariantInit(&a);
                PropVariantInit(&b);
                EXPECT_EQ(source->GetValue(key, &a), S_OK);
                EXPECT_EQ(handler->GetValue(key, &b), S_OK);
                ExpectSameValue(a, b, "property " + std::to_string(key.pid) + " #" + std::to_string(i));
                PropVariantClear(&a);
                PropVariantClear(&b);
            }
        }
        return count;
    }
    // The file's handler store against its source's store.
    DWORD ExpectSameAsSource(const std::string& name) {
        OpenedSource s(File(name));
        EXPECT_EQ(s.hr, S_OK) << name;
        if (FAILED(s.hr)) return 0;
        PlatRef<IPropertyStore> source = Store(s.source.Get());
        PlatRef<IPropertyStore> handler = HandlerStore(File(name));
        if (!source || !handler) return 0;
        SCOPED_TRACE(name);
        return ExpectSameStores(source.Get(), handler.Get());
    }
};

TEST_F(ShellHandler, AnOggencFileAsTheToolsListIt) {
    MakeVorbis();
    PlatRef<IPropertyStore> store = HandlerStore(File("v.ogg"));
    ASSERT_TRUE(store);
    ExpectOggencStore(store.Get());
    EXPECT_NEAR(static_cast<double>(StoreNumber(store.Get(), PKEY_Media_Duration, VT_UI8)), 2e7, 1e5);
    ExpectCover(store.Get());
    // Every key the source's store has, with the same value.
    EXPECT_GE(ExpectSameAsSource("v.ogg"), 13u);
    EXPECT_GE(ExpectSameAsSource("plain.ogg"), 12u);
}

TEST_F(ShellHandler, ReadOnlyAndInitializedOnce) {
    MakeVorbis();
    PlatRef<IInitializeWithStream> init = NewHandler();
    ASSERT_TRUE(init);
    PlatRef<IPropertyStore> store;
    PlatRef<IPropertyStoreCapabilities> caps;
    ASSERT_EQ(init->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store)), S_OK);
    ASSERT_EQ(init->QueryInterface(IID_IPropertyStoreCapabilities, reinterpret_cast<void**>(&caps)), S_OK);
    DWORD count = 7;
    PROPVARIANT v;
    PropVariantInit(&v);
    EXPECT_EQ(store->GetCount(&count), E_UNEXPECTED) << "nothing to tell before Initialize";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(store->GetValue(PKEY_Title, &v), E_UNEXPECTED);
    EXPECT_EQ(init->Initialize(nullptr, STGM_READ), E_POINTER);
    PlatRef<IStream> file;
    ASSERT_EQ(SHCreateStreamOnFileEx(Wide(File("v.ogg")).c_str(), STGM_READ, 0, FALSE, nullptr, &file), S_OK);
    ASSERT_EQ(init->Initialize(file.Get(), STGM_READ), S_OK);
    EXPECT_EQ(init->Initialize(file.Get(), STGM_READ), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Music_TrackNumber, VT_UI4), 3u);
    InitPropVariantFromUInt32(7, &v);
    EXPECT_EQ(store->SetValue(PKEY_Music_TrackNumber, v), STG_E_ACCESSDENIED);
    EXPECT_EQ(store->Commit(), STG_E_ACCESSDENIED);
    EXPECT_EQ(caps->IsPropertyWritable(PKEY_Title), S_FALSE);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Music_TrackNumber, VT_UI4), 3u);
}

TEST_F(ShellHandler, OpusFlacSpeexAndVideoAsTheSourceTellsThem) {
    ASSERT_EQ(Run("opusenc --quiet --title Lied --artist Sängerin --album Platte --date 1999 --tracknumber 7 "
                  "--picture " +
                  Path("cover.png") + " " + Path("in.wav") + " " + Path("o.opus")),
              0);
    ASSERT_EQ(Run("flac -s --ogg -T TITLE=Stück -T ARTIST=Band -T TRACKNUMBER=4 -T DATE=1987 --picture=" +
                  Path("cover.png") + " -o " + Path("f.oga") + " " + Path("in.wav")),
              0);
    ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i sine=f=440:d=1 -ar 16000 -ac 1 " + Path("in16.wav")), 0);
    ASSERT_EQ(Run("speexenc --title Rede --author Redner " + Path("in16.wav") + " " + Path("s.spx")), 0);
    ASSERT_EQ(
        Run("ffmpeg -v error -y -f lavfi -i testsrc=s=160x120:r=25:d=2 -f lavfi -i sine=d=2 -c:v libtheora "
            "-c:a libvorbis -metadata title=Film -metadata artist=Regie " +
            Path("t.ogv")),
        0);
    for (const char* name : {"o.opus", "f.oga", "s.spx", "t.ogv"})
        EXPECT_GE(ExpectSameAsSource(name), 5u) << name;
    // The tools' raw values and the picture put in.
    PlatRef<IPropertyStore> opus = HandlerStore(File("o.opus"));
    ASSERT_TRUE(opus);
    EXPECT_EQ(StoreStrings(opus.Get(), PKEY_Music_Artist),
              ToolValues("opusinfo " + Path("o.opus"), "artist"));
    ExpectCover(opus.Get());
    PlatRef<IPropertyStore> flac = HandlerStore(File("f.oga"));
    ASSERT_TRUE(flac);
    EXPECT_EQ(StoreStrings(flac.Get(), PKEY_Title), std::vector<std::string>{"Stück"});
    ExpectCover(flac.Get());
    PlatRef<IPropertyStore> video = HandlerStore(File("t.ogv"));
    ASSERT_TRUE(video);
    EXPECT_EQ(StoreNumber(video.Get(), PKEY_Video_FrameWidth, VT_UI4), 160u);
    EXPECT_EQ(StoreNumber(video.Get(), PKEY_Video_FrameHeight, VT_UI4), 120u);
    EXPECT_EQ(StoreNumber(video.Get(), PKEY_Video_FrameRate, VT_UI4), 25000u);
    EXPECT_EQ(StoreStrings(video.Get(), PKEY_Title), std::vector<std::string>{"Film"});
}

// A file of some 3 MB: the handler reads its headers and its end, a small part of it.
TEST_F(ShellHandler, ALongFileIsReadAtItsHeadersAndItsEndOnly) {
    ASSERT_EQ(
        Run("ffmpeg -v error -y -f lavfi -i anoisesrc=d=100:c=white -ac 2 -ar 44100 " + Path("noise.wav")),
        0);
    ASSERT_EQ(Run("oggenc -Q -q 10 -t Lang -o " + Path("long.ogg") + " " + Path("noise.wav")), 0);
    const size_t size = FileBytes(File("long.ogg")).size();
    ASSERT_GE(size, 3u << 20) << "the file is long enough to tell";
    uint64_t bytes = 0;
    PlatRef<IPropertyStore> store = HandlerStore(File("long.ogg"), &bytes);
    ASSERT_TRUE(store);
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Title), std::vector<std::string>{"Lang"});
    EXPECT_NEAR(static_cast<double>(StoreNumber(store.Get(), PKEY_Media_Duration, VT_UI8)), 100e7, 1e6);
    EXPECT_LT(bytes, size / 4);
    std::printf("the handler read %llu of %zu bytes\n", static_cast<unsigned long long>(bytes), size);
}

TEST_F(ShellHandler, NotOggIsAClearErrorAndADamagedHeaderKeepsTheGoodTags) {
    HRESULT hr = S_OK;
    PlatRef<IPropertyStore> wav = HandlerStore(File("in.wav"), nullptr, &hr);
    EXPECT_EQ(hr, MF_E_CANNOT_PARSE_BYTESTREAM);
    ASSERT_TRUE(wav);
    PROPVARIANT v;
    PropVariantInit(&v);
    EXPECT_EQ(wav->GetValue(PKEY_Title, &v), E_UNEXPECTED) << "a failed Initialize leaves nothing to tell";
    // An empty file.
    { std::ofstream(File("empty.ogg")).close(); }
    HandlerStore(File("empty.ogg"), nullptr, &hr);
    EXPECT_TRUE(FAILED(hr));
    // A comment header whose third comment states 1000 bytes that are not there: the two before it stay.
    ASSERT_EQ(Run("oggenc -Q -t Kept -a 'Also kept' -G Lost -o " + Path("d.ogg") + " " + Path("in.wav")), 0);
    std::vector<uint8_t> bytes = FileBytes(File("d.ogg"));
    const std::string genre = "genre=Lost"; // as oggenc writes it
    auto at = std::search(bytes.begin(), bytes.end(), genre.begin(), genre.end());
    ASSERT_NE(at, bytes.end());
    const size_t length = static_cast<size_t>(at - bytes.begin()) - 4;
    ASSERT_EQ(bytes[length], genre.size());
    bytes[length] = 0xE8, bytes[length + 1] = 0x03; // 1000
    // The page's checksum made right again, so that the page itself is good.
    const std::string capture = "OggS";
    const size_t page =
        static_cast<size_t>(std::find_end(bytes.begin(), at, capture.begin(), capture.end()) - bytes.begin());
    ogg_page og{};
    og.header = &bytes[page];
    og.header_len = 27 + bytes[page + 26];
    og.body = &bytes[page] + og.header_len;
    for (int i = 0; i < bytes[page + 26]; ++i)
        og.body_len += bytes[page + 27 + i];
    ASSERT_LE(page + og.header_len + og.body_len, bytes.size());
    ogg_page_checksum_set(&og);
    {
        std::ofstream out(File("damaged.ogg"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    PlatRef<IPropertyStore> damaged = HandlerStore(File("damaged.ogg"), nullptr, &hr);
    EXPECT_EQ(hr, S_OK);
    ASSERT_TRUE(damaged);
    EXPECT_EQ(StoreStrings(damaged.Get(), PKEY_Title), std::vector<std::string>{"Kept"});
    EXPECT_EQ(StoreStrings(damaged.Get(), PKEY_Music_Artist), std::vector<std::string>{"Also kept"});
    EXPECT_EQ(damaged->GetValue(PKEY_Music_Genre, &v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_GE(ExpectSameAsSource("damaged.ogg"), 3u);
}

TEST_F(ShellHandler, AHandlerHeldKeepsTheModuleLoaded) {
    MakeVorbis();
    ModuleWatch module;
    ASSERT_TRUE(module.Loaded());
    ASSERT_TRUE(module.Unloadable());
    PlatRef<IPropertyStore> store = HandlerStore(File("v.ogg"));
    ASSERT_TRUE(store);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    PROPVARIANT cover;
    PropVariantInit(&cover);
    ASSERT_EQ(store->GetValue(PKEY_ThumbnailStream, &cover), S_OK);
    store.Reset(nullptr);
    EXPECT_TRUE(module.Unloadable()) << "the cover's stream is the caller's memory, not the module's object";
    PropVariantClear(&cover);
}
} // namespace

namespace {
// A value as a list of texts: a text alone, or each of a list.
std::vector<std::string> Texts(const nlohmann::json& v) {
    if (v.is_string()) return {v.get<std::string>()};
    std::vector<std::string> out;
    if (v.is_array())
        for (const auto& e : v)
            out.push_back(e.get<std::string>());
    return out;
}

// oggsource tags --json: the store's, the provider's and the shell handler's views of one file agree.
TEST_F(ShellHandler, TheTagsVerbsThreeViewsAgree) {
    MakeVorbis();
    ShellOutput o = RunShell(Quote(OGGSOURCE_TOOL_PATH) + " tags --json " + Path("v.ogg"));
    ASSERT_EQ(o.status, 0) << o.text;
    const nlohmann::json j = nlohmann::json::parse(o.text);
    const nlohmann::json &store = j["store"], &shell = j["shell"], &names = j["provider"]["presentation"];
    ASSERT_TRUE(store.is_object() && !store.contains("error")) << o.text;
    EXPECT_EQ(store, shell);
    EXPECT_EQ(store.size(), 13u) << store.dump();
    const std::string list = "vorbiscomment -l -R " + Path("v.ogg");
    EXPECT_EQ(Texts(store["System.Title"]), ToolValues(list, "TITLE"));
    EXPECT_EQ(Texts(names["Title"]), Texts(store["System.Title"]));
    EXPECT_EQ(Texts(names["Author"]), Texts(store["System.Music.Artist"]));
    EXPECT_EQ(Texts(names["Author"]).size(), 2u);
    EXPECT_EQ(Texts(names["WM/AlbumTitle"]), Texts(store["System.Music.AlbumTitle"]));
    EXPECT_EQ(Texts(names["WM/Genre"]), Texts(store["System.Music.Genre"]));
    EXPECT_EQ(Texts(names["Description"]), Texts(store["System.Comment"]));
    EXPECT_EQ(names["WM/TrackNumber"], store["System.Music.TrackNumber"]);
    EXPECT_EQ(names["WM/Year"], std::to_string(store["System.Media.Year"].get<int>()));
    EXPECT_EQ(store["System.ThumbnailStream"]["bytes"], m_cover.size());
    // The provider's picture is the cover in a picture record: its bytes and a header.
    EXPECT_GT(names["WM/Picture"]["bytes"].get<size_t>(), m_cover.size());
    // Each stream's names, under its identifier: the language oggenc was given.
    ASSERT_EQ(j["provider"]["streams"].size(), 1u);
    EXPECT_EQ(j["provider"]["streams"].begin().value()["Language"], "de");
}
} // namespace
