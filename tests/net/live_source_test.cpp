// The source over real servers: an Icecast 2 mount fed live with a chained file (a broadcast: its samples are a
// run of the pushed file's packets, each link's arrival announced once, the server's end a failure of the play),
// a stalled server at Shutdown, and a remote file with ranges, whose open reads bounded windows of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>
#include <zlib.h>

#include "common/fixtures.h"
#include "common/http_fixture.h"
#include "common/icecast_server.h"
#include "common/ogg_packets.h"
#include "common/shell.h"
#include "platform/completion.h"
#include "source/byte_stream_handler.h"

namespace {
// Three links of 1.5 s, titled apart: sine tones encoded by oggenc, concatenated.
// The title the source's property store gives now ("" for none).
std::string StoreTitle(IMFMediaSource* source) {
    PlatRef<IPropertyStore> store;
    if (FAILED(MFGetService(source, MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                            reinterpret_cast<void**>(&store))))
        return "";
    PROPVARIANT v;
    PropVariantInit(&v);
    std::string title;
    if (SUCCEEDED(store->GetValue(PKEY_Title, &v)) && v.vt == VT_LPWSTR)
        for (const WCHAR* w = v.pwszVal; *w; ++w)
            title += static_cast<char>(*w); // the titles here are ASCII
    PropVariantClear(&v);
    return title;
}

std::string MakeChain(const std::string& dir) {
    const std::string script =
        "cd " + Quote(dir) +
        " && for f in 440 550 660; do ffmpeg -loglevel error -y -f lavfi -i sine=frequency=$f:duration=1.5 "
        "-ac 2 tone$f.wav && oggenc -Q -s $f -t \"Tone $f\" tone$f.wav -o tone$f.ogg || exit 1; done"
        " && cat tone440.ogg tone550.ogg tone660.ogg > chain.ogg";
    return RunShell(script).status == 0 ? dir + "/chain.ogg" : std::string();
}

uint32_t Crc(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Whether got is the file's packets (looping) from a link's three headers on: the headers of the link the
// broadcast was joined in, then its packets from any data packet on. *links: the headers met after the first.
bool IsRunOfTheFile(const std::vector<OggPacket>& file, const std::vector<uint32_t>& got, int* links, std::string* why) {
    *links = 0;
    if (got.size() < 4) {
        *why = "fewer than four samples";
        return false;
    }
    for (size_t k = 0; k < file.size(); ++k) {
        if (!file[k].bos || Crc(file[k].data) != got[0]) continue;
        const size_t end = std::find_if(file.begin() + static_cast<long>(k) + 1, file.end(),
                                        [](const OggPacket& p) { return p.bos; }) - file.begin();
        for (size_t j = k + 3; j < end; ++j) {
            size_t n = 3;
            bool headers = Crc(file[k + 1].data) == got[1] && Crc(file[k + 2].data) == got[2];
            while (headers && n < got.size() && got[n] == Crc(file[(j + n - 3) % file.size()].data)) {
                *links += file[(j + n - 3) % file.size()].bos ? 1 : 0;
                ++n;
            }
            if (headers && n == got.size()) return true;
        }
    }
    *why = "the samples are no run of the file's packets from a link's headers on";
    return false;
}

// The source over a URL, started from the current position with the streams it selects.
HRESULT OpenAndStart(const std::string& url, IMFMediaSource** source) {
    PlatRef<IMFByteStream> stream;
    HRESULT hr = host::OpenUrl(url, source, &stream);
    PlatRef<IMFPresentationDescriptor> pd;
    if (SUCCEEDED(hr)) hr = (*source)->CreatePresentationDescriptor(&pd);
    PROPVARIANT start;
    PropVariantInit(&start);
    return SUCCEEDED(hr) ? (*source)->Start(pd.Get(), nullptr, &start) : hr;
}
} // namespace

using LiveSource = SourceTest;

TEST_F(LiveSource, AnIcecastMountPlaysAsARunOfTheFileAndEachLinkIsAnnouncedOnce) {
    if (!IcecastServer::Installed()) GTEST_SKIP() << "icecast2 or shout (libshout-tools) is not installed: run ./run setup";
    char dir[] = "/tmp/oggsource-live-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string chain = MakeChain(dir);
    ASSERT_FALSE(chain.empty()) << "ffmpeg or oggenc could not make the chained file";
    const std::vector<OggPacket> file = SplitPackets(Shell("cat " + Quote(chain)));
    IcecastServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    ASSERT_TRUE(server.Feed(chain, "/live.ogg", &why)) << why;
    {
        PlatRef<IMFMediaSource> source;
        PlatRef<IMFByteStream> stream;
        ASSERT_EQ(host::OpenUrl(server.MountUrl("/live.ogg"), &source, &stream), S_OK);
        DWORD characteristics = 0;
        ASSERT_EQ(source->GetCharacteristics(&characteristics), S_OK);
        EXPECT_EQ(characteristics, static_cast<DWORD>(MFMEDIASOURCE_CAN_PAUSE | MFMEDIASOURCE_IS_LIVE));
        EXPECT_EQ(Probe(source.Get())["duration"], nullptr);
        // A little more than the file's packets: the play crosses every link at least once. Each link's
        // announcement carries a store of that link's tags.
        host::PlayOptions o;
        o.maxSamples = file.size() + 40;
        o.timeoutMs = 20000;
        std::vector<std::string> titles = {StoreTitle(source.Get())}; // the link joined
        const host::PlayResult r = host::Play(source.Get(), o);
        titles.insert(titles.end(), r.linkTitles.begin(), r.linkTitles.end());
        source->Shutdown();
        EXPECT_EQ(r.status, S_OK) << host::HResultText(r.status);
        std::vector<uint32_t> got;
        for (const host::Sample& s : r.samples) got.push_back(s.crc);
        int links = 0;
        EXPECT_TRUE(IsRunOfTheFile(file, got, &links, &why)) << why;
        EXPECT_GE(links, 3) << "every link came";
        // Each link's arrival is announced once, when production enters it: the link after the last one the
        // host took samples of may be announced too (production runs up to a reserve ahead of the host).
        const auto announced = std::count(r.sourceEvents.begin(), r.sourceEvents.end(), MESourceMetadataChanged);
        EXPECT_TRUE(announced == links || announced == links + 1) << announced << " announced, " << links << " links";
        // The server loops the chain: each link told is the one after the link before (a link told twice breaks
        // the cycle).
        const std::vector<std::string> cycle = {"Tone 440", "Tone 550", "Tone 660"};
        ASSERT_EQ(titles.size(), static_cast<size_t>(announced) + 1);
        for (size_t i = 0; i < titles.size(); ++i) {
            const auto at = std::find(cycle.begin(), cycle.end(), titles[i]);
            ASSERT_NE(at, cycle.end()) << "link " << i << ": \"" << titles[i] << "\"";
            if (i > 0) {
                EXPECT_EQ(titles[i - 1], cycle[(static_cast<size_t>(at - cycle.begin()) + 2) % 3])
                    << "link " << i;
            }
        }
    }
    // The server ends while the source plays: the play fails with the cause, and nothing hangs; only when the last
    // page to come was the end of a link's stream (the broadcast stopped between links) is the end a clean one.
    {
        PlatRef<IMFMediaSource> source;
        PlatRef<IMFByteStream> stream;
        ASSERT_EQ(host::OpenUrl(server.MountUrl("/live.ogg"), &source, &stream), S_OK);
        host::PlayOptions o;
        o.timeoutMs = 20000;
        size_t samples = 0;
        const host::PlayResult r = host::Play(source.Get(), o, [&](const host::Sample&) {
            if (++samples == 20) server.Stop();
        });
        source->Shutdown();
        EXPECT_FALSE(r.timedOut);
        ASSERT_FALSE(r.samples.empty());
        bool lastOfALink = false;
        for (size_t i = 0; i < file.size(); ++i)
            if (Crc(file[i].data) == r.samples.back().crc) lastOfALink = i + 1 == file.size() || file[i + 1].bos;
        if (r.status == S_OK) {
            EXPECT_TRUE(lastOfALink && r.endOfPresentation) << "a broadcast that stops where its stream did not end";
        } else {
            EXPECT_EQ(r.status, MF_E_NET_CONNECTION_FAILURE) << host::HResultText(r.status);
        }
    }
    std::filesystem::remove_all(dir);
}

// A server that stops sending in the middle of a broadcast: Shutdown returns while the source's read still waits
// for it; the read returns once the server goes on.
TEST_F(LiveSource, ShutdownReturnsWhileAReadWaitsForAStalledServer) {
    Fixture f = MakeFile("stalled", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 300}]})");
    HttpFixture server(Shell("cat " + Quote(f.path)));
    ASSERT_TRUE(server.Start());
    server.StallAt(f.record.file.size() / 2); // past the 320 KB the open reads, within what the reader reads ahead
    PlatRef<IMFMediaSource> source;
    ASSERT_EQ(OpenAndStart(server.Url("/nolength/stalled.ogg"), &source), S_OK);
    server.WaitStalled(); // the reader reads ahead at once: its read now waits for the server
    EXPECT_EQ(source->Shutdown(), S_OK);
    DWORD characteristics = 0;
    EXPECT_EQ(source->GetCharacteristics(&characteristics), MF_E_SHUTDOWN);
    source.Reset(nullptr);
    server.Release();
    server.Stop();
}

// The handler's open does not hold its caller while a server makes it wait: BeginCreateObject returns with the
// open's first read still waiting; a cancel ends that wait and the callback hears MF_E_OPERATION_CANCELLED; an open
// left alone completes once the server goes on.
TEST_F(LiveSource, AnOpenWaitingForAServerReturnsAtOnceAndCanBeCancelled) {
    Fixture f = MakeFile("slow-open", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 5}]})");
    HttpFixture server(Shell("cat " + Quote(f.path)));
    ASSERT_TRUE(server.Start());
    PlatRef<IMFByteStreamHandler> h;
    ASSERT_EQ(OGGByteStreamHandler::CreateInstance(nullptr, IID_IMFByteStreamHandler, reinterpret_cast<void**>(&h)), S_OK);
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "left to finish");
        server.StallAt(1000); // within the discovery window
        PlatRef<IMFByteStream> stream;
        ASSERT_EQ(MFCreateHttpByteStreamA(server.Url("/file/slow-open.ogg").c_str(), &stream), S_OK);
        PlatRef<PlatCompletion> done;
        done.Attach(new PlatCompletion);
        PlatRef<IUnknown> cookie;
        ASSERT_EQ(h->BeginCreateObject(stream.Get(), L"", MF_RESOLUTION_MEDIASOURCE, nullptr, &cookie, done.Get(), nullptr),
                  S_OK);
        server.WaitStalled(); // the open's read now waits for the server, and the caller has its answer
        EXPECT_FALSE(done->Take(0)) << "no open can have finished yet";
        if (cancel) {
            ASSERT_EQ(h->CancelObjectCreation(cookie.Get()), S_OK);
        } else {
            server.Release();
        }
        PlatRef<IMFAsyncResult> result = done->Take(20000);
        ASSERT_TRUE(result) << "the callback was never called";
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        PlatRef<IUnknown> object;
        EXPECT_EQ(h->EndCreateObject(result.Get(), &type, &object), cancel ? MF_E_OPERATION_CANCELLED : S_OK);
        EXPECT_EQ(!object, cancel);
        PlatRef<IMFMediaSource> source;
        if (object) {
            ASSERT_EQ(object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&source)), S_OK);
            EXPECT_EQ(Probe(source.Get())["streams"].size(), 1u);
            source->Shutdown();
        }
        server.Release();
    }
    server.Stop();
}

namespace {
// The source's next event of `type`, the others passed over; MEUnknown when none comes within the timeout.
MediaEventType AwaitSourceEvent(IMFMediaSource* source, MediaEventType type) {
    for (;;) {
        PlatRef<PlatCompletion> done;
        done.Attach(new PlatCompletion);
        if (FAILED(source->BeginGetEvent(done.Get(), nullptr))) return MEUnknown;
        PlatRef<IMFAsyncResult> result = done->Take(20000);
        PlatRef<IMFMediaEvent> event;
        MediaEventType got = MEUnknown;
        if (!result || FAILED(source->EndGetEvent(result.Get(), &event)) || FAILED(event->GetType(&got))) return MEUnknown;
        if (got == type) return got;
    }
}
} // namespace

// A read that waits for the network while the source runs: the host hears MEBufferingStarted from the source, and
// MEBufferingStopped once the server goes on.
TEST_F(LiveSource, TheByteStreamsBufferingReachesTheHost) {
    Fixture f = MakeFile("buffering", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 40}]})");
    HttpFixture server(Shell("cat " + Quote(f.path)));
    ASSERT_TRUE(server.Start());
    // A broadcast's open reads its headers and first pages only; its reader reads 10 s ahead (some 30 KB here).
    server.StallAt(20000);
    PlatRef<IMFMediaSource> source;
    ASSERT_EQ(OpenAndStart(server.Url("/nolength/buffering.ogg"), &source), S_OK);
    server.WaitStalled();
    EXPECT_EQ(AwaitSourceEvent(source.Get(), MEBufferingStarted), MEBufferingStarted);
    server.Release();
    EXPECT_EQ(AwaitSourceEvent(source.Get(), MEBufferingStopped), MEBufferingStopped);
    source->Shutdown();
    server.Stop();
}

// A file on a server that answers ranges plays as the file read locally, and its open reads the discovery window
// (320 KB), at most 1 MB more for first times and one end-scan window (64 KB), never the whole file: counted as the
// source reads it, and as the server sends it.
TEST_F(LiveSource, ARemoteFilesOpenReadsItsWindowsOnly) {
    Fixture f = MakeFile("remote-big", R"({"seed": 7, "streams": [
        {"kind": "ogm_video", "serial": 3, "packets": 600, "packet_size": 40000, "key_every": 25},
        {"kind": "vorbis", "serial": 4, "seconds": 24}]})");
    ASSERT_GT(f.record.file.size(), 20u << 20);
    HttpFixture server(Shell("cat " + Quote(f.path)));
    ASSERT_TRUE(server.Start());
    PlatRef<IMFByteStream> http, stream;
    ASSERT_EQ(MFCreateHttpByteStreamA(server.Url("/file/remote-big.ogg").c_str(), &http), S_OK);
    ASSERT_EQ(MFCreateFaultByteStream(http.Get(), nullptr, &stream), S_OK);
    PlatRef<IFaultByteStreamControl> control;
    stream->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control));
    PlatRef<IMFMediaSource> source;
    ASSERT_EQ(host::OpenByteStream(stream.Get(), &source, "remote-big.ogg"), S_OK);
    const uint64_t opened = server.BytesSent();
    uint64_t reads = 0, read = 0;
    control->GetCounters(&reads, &read);
    EXPECT_LE(read, (320u << 10) + (1u << 20) + (64u << 10)) << "the open's windows";
    DWORD characteristics = 0;
    ASSERT_EQ(source->GetCharacteristics(&characteristics), S_OK);
    EXPECT_EQ(characteristics, static_cast<DWORD>(MFMEDIASOURCE_CAN_PAUSE | MFMEDIASOURCE_CAN_SEEK));
    // What the server sends counts what a loopback connection's socket buffers took ahead (megabytes the client
    // never asked for, varying with the kernel's tuning): only the whole file is ruled out there.
    EXPECT_LT(opened, f.record.file.size()) << "the open read windows of the file, not the file";
    std::printf("  the open: %llu bytes read in %llu reads, %llu sent by the server in %u requests, of a %zu-byte file\n",
                static_cast<unsigned long long>(read), static_cast<unsigned long long>(reads),
                static_cast<unsigned long long>(opened), server.Requests(), f.record.file.size());
    OpenedSource local(f.path);
    ASSERT_EQ(Probe(source.Get())["duration"], Probe(local.source.Get())["duration"]);
    host::PlayOptions o;
    o.startAt = true;
    o.start = 150000000; // 15 s: a seek in the remote file
    const host::PlayResult a = host::Play(source.Get(), o), b = host::Play(local.source.Get(), o);
    source->Shutdown();
    ASSERT_TRUE(a.endOfPresentation);
    for (DWORD id : {3u, 4u}) {
        const std::vector<host::Sample> x = Of(a, id), y = Of(b, id);
        ASSERT_EQ(x.size(), y.size()) << id;
        for (size_t i = 0; i < x.size(); ++i) {
            EXPECT_EQ(x[i].crc, y[i].crc) << id << " " << i;
            EXPECT_EQ(x[i].time, y[i].time) << id << " " << i;
        }
    }
}
