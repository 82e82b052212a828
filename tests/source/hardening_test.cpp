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

// The reads of the open's end scan and of a seek's search, each failing in turn (once, and for good) and each
// cut short: an end-scan read that fails fails the open with its error; anything else either refuses the open,
// or plays to an end (a short read while playing ends the data), or ends the play with an error. Nothing hangs.
TEST_F(Hardening, EveryReadOfTheEndScanAndTheSearchFailingInTurn) {
    Fixture f = MakeFile("scanfaults", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 12},
        {"kind": "ogm_video", "serial": 2, "packets": 300, "packet_size": 2500, "key_every": 25}]})");
    PlatRef<IMFByteStream> file, counted;
    MFCreateFileByteStreamA(f.path.c_str(), &file);
    MFCreateFaultByteStream(file.Get(), nullptr, &counted);
    PlatRef<IFaultByteStreamControl> control;
    counted->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control));
    uint64_t openReads = 0, seekReads = 0;
    {
        OpenedSource s(counted.Get());
        ASSERT_EQ(s.hr, S_OK);
        control->GetCounters(&openReads, nullptr);
        host::PlayOptions o;
        o.startAt = true;
        o.start = 80000000; // 8 s
        o.maxSamples = 4;
        host::Play(s.source.Get(), o);
        control->GetCounters(&seekReads, nullptr);
    }
    ASSERT_GE(openReads, 2u) << "discovery and at least one end-scan read";
    ASSERT_GT(seekReads, openReads + 2) << "the search reads";
    int runs = 0, openFailures = 0;
    for (uint64_t at = 1; at < seekReads; ++at) { // read 0 is the discovery's
        for (int mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE("read " + std::to_string(at) + (mode == 0 ? " fails" : mode == 1 ? " and after fail" : " short"));
            PlatRef<IMFByteStream> plain, faulty;
            MFCreateFileByteStreamA(f.path.c_str(), &plain);
            FaultConfig c;
            c.readError = E_ACCESSDENIED;
            if (mode < 2) {
                c.failReadIndex = static_cast<long>(at);
                c.failAllAfter = mode == 1;
            } else {
                c.shortReadLimit = 700;
                c.shortFromRead = static_cast<long>(at);
            }
            MFCreateFaultByteStream(plain.Get(), &c, &faulty);
            OpenedSource s(faulty.Get());
            ++runs;
            if (at < openReads && mode < 2) {
                // The lookup of a stream's first time does without a page it cannot read; a failing read of the
                // end scan (the open's last reads, and every read when all after one fail) fails the open.
                if (mode == 1 || at == openReads - 1) {
                    EXPECT_EQ(s.hr, E_ACCESSDENIED) << "the end scan's read error fails the open";
                } else {
                    EXPECT_TRUE(s.hr == S_OK || s.hr == E_ACCESSDENIED) << host::HResultText(s.hr);
                }
                openFailures += s.hr == E_ACCESSDENIED;
                continue;
            }
            if (FAILED(s.hr)) continue;
            host::PlayOptions o;
            o.startAt = true;
            o.start = 80000000;
            o.timeoutMs = 15000;
            host::PlayResult r = host::Play(s.source.Get(), o);
            EXPECT_FALSE(r.timedOut) << "no event for 15 s";
            EXPECT_TRUE(r.endOfPresentation || FAILED(r.status));
        }
    }
    std::printf("  end scan and search faults: %d runs, %d opens failed by an end-scan read\n", runs, openFailures);
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
