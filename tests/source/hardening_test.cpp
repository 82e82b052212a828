// Hostile byte streams and hostile hosts: every read failing in turn, short reads, random legal call
// sequences from two threads, several sources at once. Nothing may hang, crash or leak.
#include <atomic>
#include <random>
#include <thread>

#include "common/fixtures.h"

namespace {
const char* kKinds[] = {
    R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1}]})",
    R"({"streams": [{"kind": "theora", "serial": 2, "seconds": 0.6, "width": 96, "height": 64}]})",
    R"({"streams": [{"kind": "ogm_video", "serial": 3, "packets": 30, "packet_size": 900}]})",
    R"({"streams": [{"kind": "ogm_audio", "serial": 4, "packets": 30}, {"kind": "ogm_text", "serial": 5, "packets": 3}]})",
    R"({"streams": [{"kind": "directx", "serial": 6, "media": "audio", "packets": 20}]})",
    R"({"streams": [{"kind": "dshow", "serial": 7, "media": "video", "packets": 20}]})",
    R"({"streams": [{"kind": "vorbis", "serial": 8, "seconds": 1}, {"kind": "ogm_video", "serial": 9, "packets": 25}],
        "damage": {"garbage": {"every": 3, "bytes": 50}, "drop_pages": [7]}})",
};

uint64_t ReadsOfAPlay(const Fixture& f) {
    PlatRef<IMFByteStream> file, counted;
    MFCreateFileByteStreamA(f.path.c_str(), &file);
    MFCreateFaultByteStream(file.Get(), nullptr, &counted);
    {
        OpenedSource s(counted.Get());
        if (FAILED(s.hr)) return 0;
        host::Play(s.source.Get(), host::PlayOptions{});
    }
    PlatRef<IFaultByteStreamControl> c;
    counted->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&c));
    uint64_t reads = 0;
    c->GetCounters(&reads, nullptr);
    return reads;
}
} // namespace

using Hardening = SourceTest;

TEST_F(Hardening, EveryReadFailingInTurnAndShortReads) {
    int runs = 0;
    for (size_t k = 0; k < std::size(kKinds); ++k) {
        Fixture f = MakeFile("matrix" + std::to_string(k), kKinds[k]);
        const uint64_t reads = ReadsOfAPlay(f);
        ASSERT_GT(reads, 0u) << kKinds[k];
        for (uint64_t at = 0; at <= reads; ++at) {
            for (int mode = 0; mode < 2; ++mode) {
                SCOPED_TRACE(std::string(kKinds[k]) + " read " + std::to_string(at) + (mode ? " short" : " fails"));
                PlatRef<IMFByteStream> file, faulty;
                MFCreateFileByteStreamA(f.path.c_str(), &file);
                FaultConfig c;
                if (mode == 0) c.failReadIndex = static_cast<long>(at);
                else c.shortReadLimit = static_cast<ULONG>(1 + at * 37 % 5000);
                MFCreateFaultByteStream(file.Get(), &c, &faulty);
                OpenedSource s(faulty.Get());
                ++runs;
                if (FAILED(s.hr)) continue; // the open refused: a clear error is all that is asked
                host::PlayOptions o;
                o.timeoutMs = 15000;
                host::PlayResult r = host::Play(s.source.Get(), o);
                EXPECT_FALSE(r.timedOut) << "no event for 15 s";
                EXPECT_TRUE(r.endOfPresentation || FAILED(r.status));
            }
        }
    }
    std::printf("  fault matrix: %d plays\n", runs);
}

TEST_F(Hardening, RandomLegalCallSequencesFromTwoThreads) {
    Fixture f = MakeFile("stress", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 3},
        {"kind": "theora", "serial": 2, "seconds": 3, "width": 96, "height": 64, "keyint": 8},
        {"kind": "ogm_text", "serial": 3, "packets": 4}]})");
    std::mt19937 rng(12345);
    for (int iteration = 0; iteration < 60; ++iteration) {
        PlatRef<IMFMediaSource> source;
        ASSERT_EQ(host::OpenFile(f.path, &source), S_OK);
        PlatRef<IMFPresentationDescriptor> pd;
        source->CreatePresentationDescriptor(&pd);
        std::atomic<bool> done{false};
        // The host's reader: takes every event, asks for samples on every stream it is told of.
        std::thread events([&] {
            std::vector<PlatRef<IMFMediaStream>> streams;
            while (!done) {
                PlatRef<IMFMediaEvent> e;
                if (FAILED(source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e))) {
                    for (auto& st : streams) {
                        PlatRef<IMFMediaEvent> se;
                        while (SUCCEEDED(st->GetEvent(MF_EVENT_FLAG_NO_WAIT, &se))) st->RequestSample(nullptr);
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    continue;
                }
                MediaEventType type;
                e->GetType(&type);
                if (type == MENewStream) {
                    PROPVARIANT v;
                    PropVariantInit(&v);
                    e->GetValue(&v);
                    PlatRef<IMFMediaStream> st;
                    if (v.punkVal) v.punkVal->QueryInterface(IID_IMFMediaStream, reinterpret_cast<void**>(&st));
                    PropVariantClear(&v);
                    if (st) {
                        st->RequestSample(nullptr);
                        streams.push_back(st);
                    }
                }
            }
        });
        PlatRef<IMFRateControl> rate;
        source->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&rate));
        const int calls = 5 + static_cast<int>(rng() % 20);
        for (int c = 0; c < calls; ++c) {
            PROPVARIANT at;
            PropVariantInit(&at);
            switch (rng() % 7) {
            case 0: source->Start(pd.Get(), nullptr, &at); break;
            case 1:
                at.vt = VT_I8;
                at.hVal.QuadPart = static_cast<LONGLONG>(rng() % 35000000);
                source->Start(pd.Get(), nullptr, &at);
                break;
            case 2: source->Pause(); break;
            case 3: source->Stop(); break;
            case 4: rate->SetRate(FALSE, (rng() % 2) ? 2.0f : 1.0f); break;
            case 5: pd->DeselectStream(rng() % 3); pd->SelectStream(rng() % 3); break;
            default: std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 20)); break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 30));
        if (rng() % 4) {
            EXPECT_EQ(source->Shutdown(), S_OK);
        } // else: released without Shutdown
        done = true;
        events.join();
    }
}

TEST_F(Hardening, SeveralSourcesAtOnce) {
    Fixture a = MakeFile("multi-a", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 2},
        {"kind": "ogm_video", "serial": 2, "packets": 50}]})");
    Fixture b = MakeFile("multi-b", R"({"streams": [{"kind": "theora", "serial": 3, "seconds": 2, "width": 96, "height": 64}]})");
    std::vector<std::thread> players;
    std::atomic<int> ended{0};
    for (int i = 0; i < 4; ++i)
        players.emplace_back([&, i] {
            PlatRef<IMFMediaSource> source;
            if (FAILED(host::OpenFile(i % 2 ? a.path : b.path, &source))) return;
            host::PlayResult r = host::Play(source.Get(), host::PlayOptions{});
            if (r.endOfPresentation) ++ended;
            source->Shutdown();
        });
    for (auto& p : players) p.join();
    EXPECT_EQ(ended.load(), 4);
}
