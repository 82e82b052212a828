// The tags and attributes a host reads from the source, of files made at test time by the encoders: the
// property store (MF_PROPERTY_HANDLER_SERVICE), the metadata provider (MF_METADATA_PROVIDER_SERVICE) and the
// descriptor attributes, each compared with what the tools list and with what was put in.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "common/fixtures.h"
#include "common/module_watch.h"
#include "common/shell.h"
#include "source/polling_host.h"
#include "source/tagged_files.h"

namespace {
TEST_F(Tagged, ThePropertyStoreOfAnOggencFile) {
    MakeVorbis();
    OpenedSource s(File("v.ogg"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IPropertyStore> store = Store(s.source.Get());
    ASSERT_TRUE(store);
    ExpectOggencStore(store.Get());
    // The duration is the presentation descriptor's.
    PlatRef<IMFPresentationDescriptor> pd;
    ASSERT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    UINT64 duration = 0;
    ASSERT_EQ(pd->GetUINT64(MF_PD_DURATION, &duration), S_OK);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Media_Duration, VT_UI8), duration);
    EXPECT_NEAR(static_cast<double>(duration), 2e7, 1e5);
    // The file's own average rate.
    const double bitrate =
        static_cast<double>(FileBytes(File("v.ogg")).size()) * 8 * 1e7 / static_cast<double>(duration);
    EXPECT_NEAR(static_cast<double>(StoreNumber(store.Get(), PKEY_Audio_EncodingBitrate, VT_UI4)), bitrate,
                1.0);
    ExpectCover(store.Get());
    // Read only.
    PROPVARIANT v;
    InitPropVariantFromUInt32(7, &v);
    EXPECT_EQ(store->SetValue(PKEY_Music_TrackNumber, v), STG_E_ACCESSDENIED);
    EXPECT_EQ(store->Commit(), STG_E_ACCESSDENIED);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Music_TrackNumber, VT_UI4), 3u);
    // No picture in a file without one.
    OpenedSource plain(File("plain.ogg"));
    ASSERT_EQ(plain.hr, S_OK);
    PlatRef<IPropertyStore> plainStore = Store(plain.source.Get());
    ASSERT_TRUE(plainStore);
    EXPECT_EQ(plainStore->GetValue(PKEY_ThumbnailStream, &v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST_F(Tagged, TheMetadataProviderOfAnOggencFile) {
    MakeVorbis();
    OpenedSource s(File("v.ogg"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IMFMetadataProvider> provider = Provider(s.source.Get());
    ASSERT_TRUE(provider);
    PlatRef<IMFMetadata> m = PresentationMetadata(s.source.Get(), provider.Get());
    ASSERT_TRUE(m);
    PlatRef<IMFPresentationDescriptor> pd;
    ASSERT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    const std::string list = "vorbiscomment -l -R " + Path("v.ogg");
    auto get = [&](IMFMetadata* metadata, const WCHAR* name) {
        PROPVARIANT v;
        PropVariantInit(&v);
        metadata->GetProperty(name, &v);
        std::vector<std::string> out = Strings(v);
        PropVariantClear(&v);
        return out;
    };
    EXPECT_EQ(get(m.Get(), L"Title"), ToolValues(list, "TITLE"));
    EXPECT_EQ(get(m.Get(), L"Author"), ToolValues(list, "ARTIST"));
    EXPECT_EQ(get(m.Get(), L"WM/AlbumTitle"), ToolValues(list, "ALBUM"));
    EXPECT_EQ(get(m.Get(), L"WM/AlbumArtist"), ToolValues(list, "ALBUMARTIST"));
    EXPECT_EQ(get(m.Get(), L"WM/Genre"), ToolValues(list, "GENRE"));
    EXPECT_EQ(get(m.Get(), L"Description"), ToolValues(list, "COMMENT"));
    EXPECT_EQ(get(m.Get(), L"WM/Year"), std::vector<std::string>{"2001"});
    PROPVARIANT v;
    PropVariantInit(&v);
    ASSERT_EQ(m->GetProperty(L"WM/TrackNumber", &v), S_OK);
    EXPECT_EQ(v.vt, VT_UI4);
    EXPECT_EQ(v.ulVal, 3u);
    ASSERT_EQ(m->GetProperty(L"WM/Picture", &v), S_OK);
    ASSERT_EQ(v.vt, VT_BLOB);
    // ASF_FLAT_PICTURE: type, length, "image/png\0" and "Front\0" in UTF-16LE, the image.
    const std::vector<uint8_t> blob(v.blob.pBlobData, v.blob.pBlobData + v.blob.cbSize);
    PropVariantClear(&v);
    const size_t header = 1 + 4 + 2 * 10 + 2 * 6;
    ASSERT_EQ(blob.size(), header + m_cover.size());
    EXPECT_EQ(blob[0], 3);
    EXPECT_EQ(blob[1] | blob[2] << 8 | blob[3] << 16 | blob[4] << 24, static_cast<int>(m_cover.size()));
    EXPECT_EQ(std::vector<uint8_t>(blob.begin() + header, blob.end()), m_cover);
    EXPECT_EQ(m->GetProperty(L"WM/NoSuchName", &v), MF_E_PROPERTY_NOT_FOUND);
    EXPECT_EQ(m->SetProperty(L"Title", &v), STG_E_ACCESSDENIED);
    // The stream's own: its language.
    BOOL selected = FALSE;
    PlatRef<IMFStreamDescriptor> sd;
    ASSERT_EQ(pd->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
    DWORD id = 0;
    ASSERT_EQ(sd->GetStreamIdentifier(&id), S_OK);
    PlatRef<IMFMetadata> sm;
    if (id != 0) { // identifier 0 names the presentation
        ASSERT_EQ(provider->GetMFMetadata(pd.Get(), id, 0, &sm), S_OK);
        EXPECT_EQ(get(sm.Get(), L"Language"), ToolValues(list, "LANGUAGE"));
    }
    EXPECT_EQ(provider->GetMFMetadata(pd.Get(), id + 1, 0, &sm), MF_E_INVALIDSTREAMNUMBER);
}

TEST_F(Tagged, DescriptorAttributesOfAnOggencFile) {
    MakeVorbis();
    OpenedSource s(File("v.ogg"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IMFPresentationDescriptor> pd;
    ASSERT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    EXPECT_EQ(Attribute(pd.Get(), MF_PD_MIME_TYPE), "audio/ogg");
    UINT64 size = 0, duration = 0;
    ASSERT_EQ(pd->GetUINT64(MF_PD_TOTAL_FILE_SIZE, &size), S_OK);
    EXPECT_EQ(size, FileBytes(File("v.ogg")).size());
    ASSERT_EQ(pd->GetUINT64(MF_PD_DURATION, &duration), S_OK);
    UINT32 bitrate = 0, variable = 7;
    ASSERT_EQ(pd->GetUINT32(MF_PD_AUDIO_ENCODING_BITRATE, &bitrate), S_OK);
    EXPECT_NEAR(bitrate, static_cast<double>(size) * 8 * 1e7 / static_cast<double>(duration), 1.0);
    ASSERT_EQ(pd->GetUINT32(MF_PD_AUDIO_ISVARIABLEBITRATE, &variable), S_OK);
    EXPECT_EQ(variable, static_cast<UINT32>(TRUE));
    // The file's modification time, as a FILETIME.
    struct stat st;
    ASSERT_EQ(stat(File("v.ogg").c_str(), &st), 0);
    const uint64_t ticks = (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                           static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
    uint8_t time[8] = {};
    UINT32 got = 0;
    ASSERT_EQ(pd->GetBlob(MF_PD_LAST_MODIFIED_TIME, time, sizeof(time), &got), S_OK);
    ASSERT_EQ(got, 8u);
    uint64_t stated = 0;
    std::memcpy(&stated, time, 8);
    EXPECT_EQ(stated, ticks);
    BOOL selected = FALSE;
    PlatRef<IMFStreamDescriptor> sd;
    ASSERT_EQ(pd->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
    EXPECT_EQ(Attribute(sd.Get(), MF_SD_LANGUAGE), "de");
    // The stream's TITLE is the file's: no name of its own.
    EXPECT_EQ(Attribute(sd.Get(), MF_SD_STREAM_NAME), "<none>");
}

// ffmpeg: a video and two audio streams, each with its language and its own title.
TEST_F(Tagged, FfmpegStreamsWithLanguagesAndNames) {
    ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i testsrc=s=64x48:r=25:d=1 -f lavfi -i sine=d=1 -f lavfi -i "
                  "sine=f=880:d=1 -map 0 -map 1 -map 2 -c:v libtheora -c:a libvorbis -metadata title=Film "
                  "-metadata artist=Jemand -metadata:s:a:0 language=eng -metadata:s:a:0 title=Original "
                  "-metadata:s:a:1 language=deu -metadata:s:a:1 title=Synchron " +
                  Path("f.ogg")),
              0);
    OpenedSource s(File("f.ogg"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IMFPresentationDescriptor> pd;
    ASSERT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    EXPECT_EQ(Attribute(pd.Get(), MF_PD_MIME_TYPE), "video/ogg");
    DWORD count = 0;
    ASSERT_EQ(pd->GetStreamDescriptorCount(&count), S_OK);
    ASSERT_EQ(count, 3u);
    std::vector<std::pair<std::string, std::string>> named;
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        ASSERT_EQ(pd->GetStreamDescriptorByIndex(i, &selected, &sd), S_OK);
        named.emplace_back(Attribute(sd.Get(), MF_SD_LANGUAGE), Attribute(sd.Get(), MF_SD_STREAM_NAME));
    }
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named, (std::vector<std::pair<std::string, std::string>>{
                         {"<none>", "<none>"}, {"deu", "Synchron"}, {"eng", "Original"}}));
    PlatRef<IPropertyStore> store = Store(s.source.Get());
    ASSERT_TRUE(store);
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Title), std::vector<std::string>{"Film"});
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Music_Artist), std::vector<std::string>{"Jemand"});
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Video_FrameWidth, VT_UI4), 64u);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Video_FrameHeight, VT_UI4), 48u);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Video_FrameRate, VT_UI4), 25000u);
}

TEST_F(Tagged, OpusencWithAPicture) {
    ASSERT_EQ(Run("opusenc --quiet --title Lied --artist Sängerin --album Platte --genre Pop --date 1999 "
                  "--tracknumber 7 --comment LANGUAGE=fr --picture " +
                  Path("cover.png") + " " + Path("in.wav") + " " + Path("o.opus")),
              0);
    OpenedSource s(File("o.opus"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IPropertyStore> store = Store(s.source.Get());
    ASSERT_TRUE(store);
    const std::string info = "opusinfo " + Path("o.opus");
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Title), ToolValues(info, "title"));
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Music_Artist), ToolValues(info, "artist"));
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Music_Artist), std::vector<std::string>{"Sängerin"});
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Music_AlbumTitle), ToolValues(info, "album"));
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Music_TrackNumber, VT_UI4), 7u);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Media_Year, VT_UI4), 1999u);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Audio_SampleRate, VT_UI4), 48000u);
    ExpectCover(store.Get());
}

TEST_F(Tagged, FlacInOggWithAPicture) {
    ASSERT_EQ(Run("flac -s --ogg -T TITLE=Stück -T ARTIST=Band -T TRACKNUMBER=4 -T DATE=1987 -T GENRE=Rock "
                  "--picture=" +
                  Path("cover.png") + " -o " + Path("f.oga") + " " + Path("in.wav")),
              0);
    ASSERT_EQ(Run("flac -s -T TITLE=Stück -T ARTIST=Band -o " + Path("twin.flac") + " " + Path("in.wav")), 0);
    OpenedSource s(File("f.oga"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IPropertyStore> store = Store(s.source.Get());
    ASSERT_TRUE(store);
    const std::string list = "metaflac --export-tags-to=- " + Path("twin.flac");
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Title), ToolValues(list, "TITLE"));
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Music_Artist), ToolValues(list, "ARTIST"));
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Music_TrackNumber, VT_UI4), 4u);
    EXPECT_EQ(StoreNumber(store.Get(), PKEY_Media_Year, VT_UI4), 1987u);
    ExpectCover(store.Get());
}

TEST_F(Tagged, SpeexencTitleAndAuthor) {
    ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i sine=f=440:d=1 -ar 16000 -ac 1 " + Path("in16.wav")), 0);
    ASSERT_EQ(Run("speexenc --title Rede --author Redner " + Path("in16.wav") + " " + Path("s.spx")), 0);
    OpenedSource s(File("s.spx"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IPropertyStore> store = Store(s.source.Get());
    ASSERT_TRUE(store);
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Title), std::vector<std::string>{"Rede"});
    EXPECT_EQ(StoreStrings(store.Get(), PKEY_Music_Artist), std::vector<std::string>{"Redner"});
    PlatRef<IMFPresentationDescriptor> pd;
    ASSERT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    UINT32 variable = 7;
    ASSERT_EQ(pd->GetUINT32(MF_PD_AUDIO_ISVARIABLEBITRATE, &variable), S_OK);
    EXPECT_EQ(variable, static_cast<UINT32>(FALSE)); // speexenc's default: a constant rate
}

// The command-line host's probe prints the tags and each stream's language.
TEST_F(Tagged, ProbePrintsTheTags) {
    MakeVorbis();
    ShellOutput o =
        RunShell(std::string(OGGSOURCE_TOOL_PATH) + " probe --json " + Path("v.ogg") + " 2>/dev/null");
    ASSERT_EQ(o.status, 0);
    const nlohmann::json j = nlohmann::json::parse(o.text);
    const std::string list = "vorbiscomment -l -R " + Path("v.ogg");
    EXPECT_EQ(j["tags"]["title"], ToolValues(list, "TITLE").at(0));
    EXPECT_EQ(j["tags"]["artist"].get<std::vector<std::string>>(), ToolValues(list, "ARTIST"));
    EXPECT_EQ(j["tags"]["track"], 3);
    EXPECT_EQ(j["tags"]["cover_bytes"], m_cover.size());
    EXPECT_EQ(j["mime_type"], "audio/ogg");
    ASSERT_EQ(j["streams"].size(), 1u);
    EXPECT_EQ(j["streams"][0]["language"], "de");
}

// A chain of two differently tagged links: the store answers for the link being played.
TEST_F(Tagged, AChainsStoreAnswersForTheLinkPlayed) {
    ASSERT_EQ(Run("oggenc -Q -t Erster -a Eins -o " + Path("a.ogg") + " " + Path("in.wav")), 0);
    ASSERT_EQ(Run("oggenc -Q -t Zweiter -a Zwei -o " + Path("b.ogg") + " " + Path("in.wav")), 0);
    ASSERT_EQ(RunShell("cat " + Path("a.ogg") + " " + Path("b.ogg") + " > " + Path("chain.ogg")).status, 0);
    OpenedSource s(File("chain.ogg"));
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IPropertyStore> before = Store(s.source.Get());
    ASSERT_TRUE(before);
    EXPECT_EQ(StoreStrings(before.Get(), PKEY_Title), std::vector<std::string>{"Erster"});
    PollingHost h(s.source.Get());
    BOOL selected = FALSE;
    PlatRef<IMFStreamDescriptor> sd;
    ASSERT_EQ(h.Pd()->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
    DWORD id = 0;
    ASSERT_EQ(sd->GetStreamIdentifier(&id), S_OK);
    h.Select({id});
    ASSERT_EQ(h.StartAt(30000000), S_OK); // 3 s: a second into the second link
    ASSERT_TRUE(h.PumpUntil([&] { return h.SamplesOf(id) >= 20; }));
    PlatRef<IPropertyStore> during = Store(s.source.Get());
    ASSERT_TRUE(during);
    EXPECT_EQ(StoreStrings(during.Get(), PKEY_Title), std::vector<std::string>{"Zweiter"});
    EXPECT_EQ(StoreStrings(during.Get(), PKEY_Music_Artist), std::vector<std::string>{"Zwei"});
    // The store is a snapshot: the one taken before still answers for the first link.
    EXPECT_EQ(StoreStrings(before.Get(), PKEY_Title), std::vector<std::string>{"Erster"});
}

// The store, the provider and a metadata object a host keeps after the source is shut down and let go are the
// module's code: each keeps it loaded until released.
TEST_F(Tagged, ServiceObjectsAHostKeepsHoldTheModule) {
    MakeVorbis();
    ModuleWatch module;
    ASSERT_TRUE(module.Loaded());
    ASSERT_TRUE(module.Unloadable());
    // Each kind alone: the store, the provider, a metadata object.
    for (int kind = 0; kind < 3; ++kind) {
        PlatRef<IUnknown> kept;
        {
            OpenedSource s(File("v.ogg"));
            ASSERT_EQ(s.hr, S_OK);
            PlatRef<IMFMetadataProvider> provider = Provider(s.source.Get());
            PlatRef<IMFMetadata> metadata = PresentationMetadata(s.source.Get(), provider.Get());
            PlatRef<IPropertyStore> store = Store(s.source.Get());
            ASSERT_TRUE(provider && metadata && store);
            EXPECT_EQ(s->Shutdown(), S_OK);
            kept.Reset(kind == 0   ? static_cast<IUnknown*>(store.Get())
                       : kind == 1 ? static_cast<IUnknown*>(provider.Get())
                                   : static_cast<IUnknown*>(metadata.Get()));
        }
        if (kind == 0) { // a snapshot: it still answers
            PlatRef<IPropertyStore> store;
            ASSERT_EQ(kept->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store)), S_OK);
            EXPECT_EQ(StoreStrings(store.Get(), PKEY_Title), std::vector<std::string>{"Ein Titel"});
        }
        EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "kind " << kind << " is held";
        kept.Reset(nullptr);
        EXPECT_TRUE(module.Unloadable()) << "kind " << kind;
    }
}
// A chain of three differently tagged links: at each link change the host hears MESourceMetadataChanged, once
// per link and in order, naming the link and carrying a store of its tags; the source's own store, read then,
// answers for that link or (production may have gone on) a later one. So from a file read anywhere, read
// once, and from the network (a broadcast, whose later links are found as they come); and a start in a later
// link of a file is told at once.
TEST_F(Tagged, EachLinkChangeIsToldWithTheLinksTags) {
    const std::vector<std::string> titles = {"Erster", "Zweiter", "Dritter"};
    std::string cat = "cat";
    for (size_t i = 0; i < titles.size(); ++i) {
        const std::string name = "l" + std::to_string(i) + ".ogg";
        ASSERT_EQ(Run("oggenc -Q -t " + titles[i] + " -o " + Path(name) + " " + Path("in.wav")), 0);
        cat += " " + Path(name);
    }
    ASSERT_EQ(RunShell(cat + " > " + Path("chain.ogg")).status, 0);
    auto linkOf = [&](const std::string& title) {
        return static_cast<int>(std::find(titles.begin(), titles.end(), title) - titles.begin());
    };
    // Plays to the end; checks what each event carried and what the store said then; returns the links told.
    auto play = [&](IMFMediaSource* source, host::Player* player, bool startAt, LONGLONG start) {
        host::PlayOptions o;
        o.startAt = startAt;
        o.start = start;
        std::vector<std::string> stored;
        o.onEvent = [&](MediaEventType type, int64_t, HRESULT) {
            if (type != MESourceMetadataChanged) return;
            PlatRef<IPropertyStore> store = Store(source);
            std::vector<std::string> title =
                store ? StoreStrings(store.Get(), PKEY_Title) : std::vector<std::string>{};
            stored.push_back(title.empty() ? "<none>" : title[0]);
        };
        const host::PlayResult r = player->Play(o);
        EXPECT_TRUE(r.endOfPresentation);
        EXPECT_EQ(r.linkTitles.size(), r.linksTold.size());
        EXPECT_EQ(stored.size(), r.linksTold.size());
        for (size_t i = 0; i < r.linksTold.size() && i < r.linkTitles.size() && i < stored.size(); ++i) {
            EXPECT_EQ(linkOf(r.linkTitles[i]), r.linksTold[i]) << "the event's store holds its link's tags";
            EXPECT_GE(linkOf(stored[i]), r.linksTold[i]) << "the source's store: that link or a later one";
            EXPECT_LT(linkOf(stored[i]), 3) << stored[i];
        }
        return r.linksTold;
    };
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind == 0 ? "read anywhere" : kind == 1 ? "read once" : "from the network");
        FaultConfig c;
        c.notSeekable = c.lengthUnknown = kind > 0;
        c.remote = kind == 2;
        OpenedSource s(CountingStream(File("chain.ogg"), nullptr, &c).Get());
        ASSERT_EQ(s.hr, S_OK);
        host::Player player(s.source.Get());
        EXPECT_EQ(play(s.source.Get(), &player, false, 0), (std::vector<int>{1, 2}));
        PlatRef<IPropertyStore> after = Store(s.source.Get());
        ASSERT_TRUE(after);
        EXPECT_EQ(StoreStrings(after.Get(), PKEY_Title), std::vector<std::string>{"Dritter"});
        if (kind > 0) continue;
        // The host was told of the third link last: a start at 0 tells the first at once.
        EXPECT_EQ(play(s.source.Get(), &player, true, 0), (std::vector<int>{0, 1, 2}));
        EXPECT_EQ(play(s.source.Get(), &player, true, 25000000), (std::vector<int>{1, 2})); // 2.5 s
        // A start in the link told last tells nothing.
        EXPECT_EQ(play(s.source.Get(), &player, true, 50000000), std::vector<int>{});
    }
    // probe lists each link's tags.
    ShellOutput o =
        RunShell(std::string(OGGSOURCE_TOOL_PATH) + " probe --json " + Path("chain.ogg") + " 2>/dev/null");
    ASSERT_EQ(o.status, 0);
    const nlohmann::json j = nlohmann::json::parse(o.text);
    ASSERT_EQ(j["links"].size(), titles.size());
    for (size_t k = 0; k < titles.size(); ++k)
        EXPECT_EQ(j["links"][k]["tags"]["title"], titles[k]) << "link " << k;
}
} // namespace
