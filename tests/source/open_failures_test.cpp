// What the open refuses, what it reads, and the settings it follows.
#include <mutex>
#include <atomic>

#include "common/callback.h"
#include "common/fixtures.h"
#include "source/registry_stuff.h"
#include "source/byte_stream_handler.h"

namespace {
PlatRef<IMFByteStream> Faulty(const Fixture& f, const FaultConfig& c) {
    PlatRef<IMFByteStream> file, faulty;
    EXPECT_EQ(MFCreateFileByteStreamA(f.path.c_str(), &file), S_OK);
    EXPECT_EQ(MFCreateFaultByteStream(file.Get(), &c, &faulty), S_OK);
    return faulty;
}

void Counters(IMFByteStream* s, uint64_t* reads, uint64_t* bytes) {
    PlatRef<IFaultByteStreamControl> c;
    s->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&c));
    c->GetCounters(reads, bytes);
}
} // namespace

using OpenFailures = SourceTest;

TEST_F(OpenFailures, ReadsAndLengthsThatFailTheOpen) {
    Fixture f = MakeFile("plain", R"({"streams": [{"kind": "vorbis", "serial": 3, "seconds": 1}]})");
    FaultConfig c;
    c.failReadIndex = 0;
    {
        OpenedSource s(Faulty(f, c).Get());
        EXPECT_EQ(s.hr, MF_E_CANNOT_PARSE_BYTESTREAM) << "a failing discovery read";
    }
    // Bytes that come in pieces are read on, and a length the byte stream cannot tell (a failure, or the usual -1)
    // is read to the end of the data: each opens and plays the whole file (the duration unknown without a length).
    OpenedSource whole(f.path);
    ASSERT_EQ(whole.hr, S_OK);
    const host::PlayResult all = host::Play(whole.source.Get(), host::PlayOptions{});
    ASSERT_EQ(all.status, S_OK);
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        c = FaultConfig{};
        if (mode == 0) c.shortReadLimit = 1000;
        if (mode == 1) c.lengthUnknown = true;
        if (mode == 2) c.lengthFails = true;
        OpenedSource s(Faulty(f, c).Get());
        ASSERT_EQ(s.hr, S_OK);
        EXPECT_EQ(Probe(s.source.Get())["duration"], mode == 0 ? Probe(whole.source.Get())["duration"] : nlohmann::json(nullptr))
            << "no duration stated without a length";
        const host::PlayResult r = host::Play(s.source.Get(), host::PlayOptions{});
        ASSERT_EQ(r.status, S_OK);
        ASSERT_EQ(r.samples.size(), all.samples.size());
        for (size_t i = 0; i < r.samples.size(); ++i) EXPECT_EQ(r.samples[i].crc, all.samples[i].crc) << i;
    }
    // A failing length with a file longer than the discovery window opens, with an unknown end.
    Fixture big = MakeFile("big", R"({"streams": [{"kind": "ogm_video", "serial": 4, "packets": 400,
        "packet_size": 2000, "comments": []}]})");
    ASSERT_GT(big.record.file.size(), 0x50000u);
    {
        OpenedSource s(Faulty(big, c).Get());
        ASSERT_EQ(s.hr, S_OK);
        EXPECT_EQ(Probe(s.source.Get())["duration"], nullptr);
    }
    {
        PlatRef<IMFByteStream> mem;
        const BYTE junk[] = "this is not an Ogg file at all, only text that goes on and on";
        MFCreateMemoryByteStream(junk, sizeof junk, &mem);
        OpenedSource s(mem.Get());
        EXPECT_EQ(s.hr, MF_E_CANNOT_PARSE_BYTESTREAM);
        PlatRef<IMFByteStream> empty;
        MFCreateMemoryByteStream(nullptr, 0, &empty);
        OpenedSource e(empty.Get());
        EXPECT_EQ(e.hr, MF_E_CANNOT_PARSE_BYTESTREAM) << "a length of 0 reads nothing";
    }
}

TEST_F(OpenFailures, OneDiscoveryReadWhenEveryStreamIsDescribedEarly) {
    Fixture f = MakeFile("early", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 30},
        {"kind": "ogm_video", "serial": 2, "packets": 750, "packet_size": 3000}]})");
    ASSERT_GT(f.record.file.size(), 4u * 0x10000);
    PlatRef<IMFByteStream> bs = Faulty(f, FaultConfig{});
    OpenedSource s(bs.Get());
    ASSERT_EQ(s.hr, S_OK);
    uint64_t reads = 0, bytes = 0;
    Counters(bs.Get(), &reads, &bytes);
    // One discovery read and one end-scan window; the Vorbis stream's first data page lies past the first
    // window (oggmux wrote the video first), and is found by reading page headers only (small reads, no body).
    EXPECT_GT(reads, 2u);
    EXPECT_LE(reads, 12u);
    EXPECT_GE(bytes, 2u * 0x10000);
    EXPECT_LE(bytes, 2u * 0x10000 + 0x4000);
    nlohmann::json j = Probe(s.source.Get());
    EXPECT_EQ((*StreamById(j, 1))["start"], 0) << "its first time was found";

    // Both first data pages in the first window: nothing but the two reads.
    Fixture both = MakeFile("early-both", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 30},
        {"kind": "ogm_video", "serial": 2, "packets": 750, "packet_size": 300}]})");
    PlatRef<IMFByteStream> bbs = Faulty(both, FaultConfig{});
    OpenedSource bs2(bbs.Get());
    ASSERT_EQ(bs2.hr, S_OK);
    Counters(bbs.Get(), &reads, &bytes);
    EXPECT_EQ(reads, 2u) << "one discovery read and one end-scan window";
    EXPECT_EQ(bytes, 2u * 0x10000);

    // A stream of a codec nobody knows is not waited for: discovery stops at the first chunk; with no other
    // stream the file has nothing to play, which the open says.
    Fixture u = MakeFile("unknown", R"({"streams": [{"kind": "unknown", "serial": 1, "packets": 300, "packet_size": 3000}]})");
    PlatRef<IMFByteStream> ubs = Faulty(u, FaultConfig{});
    OpenedSource us(ubs.Get());
    EXPECT_EQ(us.hr, MF_E_INVALID_FILE_FORMAT);
    Counters(ubs.Get(), &reads, &bytes);
    EXPECT_EQ(bytes, 0x10000u);
    Fixture m = MakeFile("unknown-and-vorbis", R"({"streams": [{"kind": "unknown", "serial": 1, "packets": 300,
        "packet_size": 3000}, {"kind": "vorbis", "serial": 2, "seconds": 20}]})");
    PlatRef<IMFByteStream> mbs = Faulty(m, FaultConfig{});
    OpenedSource ms(mbs.Get());
    ASSERT_EQ(ms.hr, S_OK);
    Counters(mbs.Get(), &reads, &bytes);
    EXPECT_LE(bytes, 2u * 0x10000 + 0x4000) << "one discovery read, the end scan, the Vorbis stream's first data page";
}

TEST_F(OpenFailures, CommentDurationsAndTheEndScan) {
    // Every stream carries DIRECTX_DURATION (hexadecimal here): no end scan.
    Fixture f = MakeFile("dxdur", R"({"streams": [{"kind": "ogm_video", "serial": 1, "packets": 20,
        "comments": ["directx_duration=0x1000"]}, {"kind": "vorbis", "serial": 2, "seconds": 1,
        "comments": ["DIRECTX_DURATION= 5000", "DIRECTX_DURATION=99999999"]}]})");
    PlatRef<IMFByteStream> bs = Faulty(f, FaultConfig{});
    OpenedSource s(bs.Get());
    ASSERT_EQ(s.hr, S_OK);
    nlohmann::json j = Probe(s.source.Get());
    EXPECT_EQ((*StreamById(j, 1))["end"], 0x1000);
    EXPECT_EQ((*StreamById(j, 2))["end"], 5000) << "the first comment of the name counts";
    EXPECT_EQ(j["duration"], 5000);
    uint64_t reads = 0, bytes = 0;
    Counters(bs.Get(), &reads, &bytes);
    EXPECT_EQ(reads, 1u) << "no end scan when every stream has a comment duration";

    // Text without a number is 0; a negative value is ignored and the end scan finds the real end.
    Fixture g = MakeFile("dxbad", R"({"streams": [{"kind": "ogm_video", "serial": 1, "packets": 20,
        "comments": ["DIRECTX_DURATION=abc"]}, {"kind": "ogm_video", "serial": 2, "packets": 30,
        "comments": ["DIRECTX_DURATION=-7"]}]})");
    OpenedSource t(g.path);
    ASSERT_EQ(t.hr, S_OK);
    j = Probe(t.source.Get());
    // Stream 1's comment gives 0, but the end scan that runs for stream 2 also meets stream 1's last page,
    // and a later time found there raises a known end.
    EXPECT_EQ((*StreamById(j, 1))["end"], 19 * 400000);
    EXPECT_EQ((*StreamById(j, 2))["end"], 29 * 400000);
    Fixture h = MakeFile("dxzero", R"({"streams": [{"kind": "ogm_video", "serial": 1, "packets": 20,
        "comments": ["DIRECTX_DURATION=abc"]}]})");
    OpenedSource u(h.path);
    ASSERT_EQ(u.hr, S_OK);
    EXPECT_EQ(Probe(u.source.Get())["duration"], 0) << "text without a number is an end time of 0";
}

// Reads of the end scan that come back short (a byte stream may return fewer bytes than asked): only the bytes
// read are parsed. Here no page fits in what each read returns, so no end is found; bytes left in the buffer by
// the discovery (the first pages of the file) must not be taken for the file's last pages.
TEST_F(OpenFailures, ShortEndScanReadsParseOnlyTheBytesRead) {
    Fixture f = MakeFile("shortend", R"({"streams": [{"kind": "ogm_video", "serial": 1, "packets": 400,
        "packet_size": 2000}]})");
    OpenedSource whole(f.path);
    ASSERT_EQ(whole.hr, S_OK);
    EXPECT_EQ((*StreamById(Probe(whole.source.Get()), 1))["end"], 399 * 400000);
    FaultConfig c;
    c.shortReadLimit = 100; // less than a page header and its lacing
    c.shortFromRead = 1;    // the discovery's one read is whole
    PlatRef<IMFByteStream> bs = Faulty(f, c);
    OpenedSource s(bs.Get());
    ASSERT_EQ(s.hr, S_OK);
    nlohmann::json j = Probe(s.source.Get());
    const nlohmann::json& end = (*StreamById(j, 1))["end"];
    EXPECT_TRUE(end == 0 || end == 399 * 400000) << "an end time from bytes not read: " << end; // 0: not found
}

TEST_F(OpenFailures, StreamIdentifiersAndTheThirtyTwoStreamLimit) {
    // Serials sharing their low 8 bits: only the first gets a media stream.
    Fixture shared = MakeFile("shared", R"({"streams": [{"kind": "ogm_video", "serial": 256, "serial_step": 256,
        "count": 3, "packets": 2}]})");
    {
        OpenedSource s(shared.path);
        ASSERT_EQ(s.hr, S_OK);
        nlohmann::json j = Probe(s.source.Get());
        ASSERT_EQ(j["streams"].size(), 1u);
        EXPECT_EQ(j["streams"][0]["id"], 256);
    }
    Fixture many = MakeFile("many", R"({"streams": [{"kind": "ogm_audio", "serial": 1, "count": 33, "packets": 2}]})");
    {
        OpenedSource s(many.path);
        EXPECT_EQ(s.hr, E_FAIL) << "the 33rd media stream does not fit";
    }
    Fixture thirtyTwo = MakeFile("thirtytwo", R"({"streams": [{"kind": "ogm_audio", "serial": 1, "count": 32, "packets": 2}]})");
    OpenedSource s(thirtyTwo.path);
    ASSERT_EQ(s.hr, S_OK);
    nlohmann::json j = Probe(s.source.Get());
    EXPECT_EQ(j["streams"].size(), 32u);
    int selected = 0;
    for (const auto& st : j["streams"]) selected += st["selected"].get<bool>();
    EXPECT_EQ(selected, 1) << "only the first audio stream";
}

TEST_F(OpenFailures, FourccMappingChains) {
    auto mapping = [](std::initializer_list<std::pair<uint32_t, uint32_t>> entries) {
        HKEY root = nullptr;
        WCHAR clsid[39];
        StringFromGUID2(CLSID_OGGSourceDefaults, clsid, 39);
        std::string path = "CLSID\\" + std::string(clsid, clsid + 38) + "\\Defaults";
        RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (path + "\\FOURCC Mapping").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &root, nullptr),
                  ERROR_SUCCESS);
        for (auto [from, to] : entries) {
            char name[16];
            std::snprintf(name, sizeof name, "0x%08x", from);
            RegSetValueExA(root, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&to), 4);
        }
        RegCloseKey(root);
    };
    const uint32_t DIVX = 0x58564944, XVID = 0x44495658, MP42 = 0x3234504D;
    CRegistryStuff settings;
    EXPECT_EQ(settings.MapFourcc(DIVX), DIVX) << "no mapping key: the settings key is created empty";
    HKEY key = settings.OpenDefaultsKey();
    ASSERT_NE(key, nullptr);
    RegCloseKey(key);
    mapping({{DIVX, XVID}});
    EXPECT_EQ(settings.MapFourcc(DIVX), XVID);
    EXPECT_EQ(settings.MapFourcc(XVID), XVID);
    mapping({{DIVX, XVID}, {XVID, MP42}});
    EXPECT_EQ(settings.MapFourcc(DIVX), MP42) << "a chain ends where nothing maps further";
    mapping({{DIVX, XVID}, {XVID, DIVX}});
    EXPECT_EQ(settings.MapFourcc(DIVX), XVID) << "a cycle back to the start ends at the entry that returns";
    mapping({{DIVX, XVID}, {XVID, MP42}, {MP42, XVID}});
    uint32_t r = settings.MapFourcc(DIVX);
    EXPECT_TRUE(r == XVID || r == MP42) << "a cycle that does not return ends, bounded";

    // Through a real open: the stream's subtype follows the mapping.
    mapping({{DIVX, XVID}});
    Fixture f = MakeFile("mapped", R"({"streams": [{"kind": "ogm_video", "serial": 1, "fourcc": "DIVX", "packets": 5}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(Probe(s.source.Get())["streams"][0]["fourcc"], "XVID");
}

TEST_F(OpenFailures, HandlerRefusalsAndTheBeginEndPair) {
    PlatRef<IMFByteStreamHandler> h;
    ASSERT_EQ(OGGByteStreamHandler::CreateInstance(nullptr, IID_IMFByteStreamHandler, reinterpret_cast<void**>(&h)), S_OK);
    PlatRef<IUnknown> aggregate;
    EXPECT_EQ(OGGByteStreamHandler::CreateInstance(h.Get(), IID_IUnknown, reinterpret_cast<void**>(&aggregate)),
              CLASS_E_NOAGGREGATION);
    PlatRef<IMFMediaSource> wrong;
    EXPECT_EQ(OGGByteStreamHandler::CreateInstance(nullptr, IID_IMFMediaSource, reinterpret_cast<void**>(&wrong)),
              E_NOINTERFACE);

    std::atomic<int> invoked{0};
    PlatRef<IMFAsyncCallback> cb;
    PlatRef<IMFAsyncResult> received;
    cb.Attach(new TestCallback([&](IMFAsyncResult* r) {
        if (!received) received = PlatRef<IMFAsyncResult>(r);
        ++invoked;
    }));
    Fixture f = MakeFile("handler", R"({"streams": [{"kind": "ogm_audio", "serial": 1, "packets": 4}]})");
    PlatRef<IMFByteStream> bs;
    MFCreateFileByteStreamA(f.path.c_str(), &bs);
    IUnknown* cookie = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(h->BeginCreateObject(nullptr, L"", MF_RESOLUTION_MEDIASOURCE, nullptr, &cookie, cb.Get(), nullptr), E_POINTER);
    EXPECT_EQ(h->BeginCreateObject(bs.Get(), L"", MF_RESOLUTION_MEDIASOURCE, nullptr, &cookie, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(h->BeginCreateObject(bs.Get(), L"", 0, nullptr, &cookie, cb.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(h->BeginCreateObject(bs.Get(), L"", MF_RESOLUTION_BYTESTREAM, nullptr, &cookie, cb.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(h->CancelObjectCreation(nullptr), E_POINTER);
    EXPECT_EQ(h->CancelObjectCreation(h.Get()), E_INVALIDARG) << "not a cookie of this module's";
    QWORD bytes = 0;
    EXPECT_EQ(h->GetMaxNumberOfBytesRequiredForResolution(&bytes), E_NOTIMPL);
    EXPECT_EQ(invoked.load(), 0) << "the refused attempts never call back";

    // An open returns at once; its callback carries the outcome: a stream that is no Ogg fails there.
    auto endOf = [&](IMFByteStream* stream, HRESULT* status) {
        received.Reset(nullptr);
        invoked = 0;
        PlatRef<IUnknown> cookie;
        EXPECT_EQ(h->BeginCreateObject(stream, L"", MF_RESOLUTION_MEDIASOURCE | MF_RESOLUTION_READ, nullptr, &cookie,
                                       cb.Get(), nullptr),
                  S_OK);
        EXPECT_TRUE(cookie) << "an open can be cancelled";
        for (int i = 0; i < 1000 && invoked.load() == 0; ++i) Sleep(5);
        EXPECT_EQ(invoked.load(), 1);
        PlatRef<IUnknown> object;
        MF_OBJECT_TYPE type = MF_OBJECT_BYTESTREAM;
        *status = received ? h->EndCreateObject(received.Get(), &type, &object) : E_FAIL;
        EXPECT_EQ(type, SUCCEEDED(*status) ? MF_OBJECT_MEDIASOURCE : MF_OBJECT_INVALID);
        EXPECT_EQ(h->CancelObjectCreation(cookie.Get()), S_OK) << "a finished open has nothing to cancel";
        return object;
    };
    PlatRef<IMFByteStream> junk;
    const BYTE text[] = "plain text";
    MFCreateMemoryByteStream(text, sizeof text, &junk);
    HRESULT status = S_OK;
    EXPECT_FALSE(endOf(junk.Get(), &status));
    EXPECT_EQ(status, MF_E_CANNOT_PARSE_BYTESTREAM);
    PlatRef<IUnknown> object = endOf(bs.Get(), &status);
    ASSERT_EQ(status, S_OK);
    PlatRef<IMFAsyncResult> result = received;
    PlatRef<IMFMediaSource> source;
    ASSERT_EQ(object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&source)), S_OK);
    source->Shutdown();
    MF_OBJECT_TYPE type = MF_OBJECT_BYTESTREAM;
    PlatRef<IMFAsyncResult> foreign;
    MFCreateAsyncResult(nullptr, cb.Get(), nullptr, &foreign);
    EXPECT_EQ(h->EndCreateObject(foreign.Get(), &type, &object), E_INVALIDARG) << "a result this handler did not make";
    EXPECT_EQ(type, MF_OBJECT_INVALID);
    result->SetStatus(E_ABORT);
    EXPECT_EQ(h->EndCreateObject(result.Get(), &type, &object), E_ABORT);
    // Two creations in flight on one handler: each result gives its own source.
    std::vector<PlatRef<IMFAsyncResult>> results;
    std::mutex lock;
    PlatRef<IMFAsyncCallback> both;
    both.Attach(new TestCallback([&](IMFAsyncResult* r) {
        std::lock_guard<std::mutex> g(lock);
        results.emplace_back(r);
    }));
    ASSERT_EQ(h->BeginCreateObject(bs.Get(), L"", MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr, both.Get(), nullptr), S_OK);
    PlatRef<IMFByteStream> second;
    MFCreateFileByteStreamA(f.path.c_str(), &second);
    ASSERT_EQ(h->BeginCreateObject(second.Get(), L"", MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr, both.Get(), nullptr), S_OK);
    for (int i = 0; i < 1000; ++i) {
        {
            std::lock_guard<std::mutex> g(lock);
            if (results.size() == 2) break;
        }
        Sleep(5);
    }
    ASSERT_EQ(results.size(), 2u);
    PlatRef<IUnknown> a, b;
    ASSERT_EQ(h->EndCreateObject(results[0].Get(), &type, &a), S_OK);
    ASSERT_EQ(h->EndCreateObject(results[1].Get(), &type, &b), S_OK);
    EXPECT_NE(a.Get(), b.Get());
    for (IUnknown* o : {a.Get(), b.Get()}) {
        PlatRef<IMFMediaSource> m;
        o->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&m));
        m->Shutdown();
    }
}
