// Playing files through the host path: every packet delivered once, in order, timed, with the events in
// their order; stop, pause, rate, read failures and shutdown.
#include <algorithm>
#include <thread>

#include "common/fixtures.h"

namespace {

const char* kAllKinds = R"({"seed": 9, "streams": [
    {"kind": "vorbis", "serial": 1, "seconds": 2},
    {"kind": "theora", "serial": 2, "width": 160, "height": 120, "seconds": 2, "keyint": 10},
    {"kind": "ogm_video", "serial": 3, "packets": 40, "length_bytes": 2, "packet_duration": 1, "key_every": 8},
    {"kind": "ogm_audio", "serial": 4, "packets": 30},
    {"kind": "ogm_text", "serial": 5, "packets": 3},
    {"kind": "dshow", "serial": 6, "media": "video", "packets": 20},
    {"kind": "unknown", "serial": 7, "packets": 5}]})";
} // namespace

using PlayTest = SourceTest;

TEST_F(PlayTest, EveryPacketOfEveryKindOnceInOrderAndTimed) {
    Fixture f = MakeFile("play-all", kAllKinds);
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    host::PlayOptions o;
    o.streams = {1, 2, 3, 4, 5, 6, 7};
    host::PlayResult r = host::Play(s.source.Get(), o);
    ASSERT_EQ(r.status, S_OK) << host::HResultText(r.status);
    ASSERT_TRUE(r.endOfPresentation);
    for (const auto& rec : f.record.streams) {
        SCOPED_TRACE(oggmux::KindName(rec.kind));
        std::vector<host::Sample> got = Of(r, rec.serial);
        size_t skip = 0;
        if (rec.kind == oggmux::Kind::Vorbis) {
            ASSERT_GE(got.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(got[i].crc, rec.headers[i].crc32) << "the three Vorbis headers come first";
                EXPECT_EQ(got[i].time, 0);
            }
            skip = 3;
        } else if (rec.kind == oggmux::Kind::OgmText) {
            ASSERT_GE(got.size(), 1u);
            EXPECT_EQ(got[0].size, 1u) << "the text start sample";
            EXPECT_EQ(got[0].duration, 1);
            EXPECT_TRUE(got[0].discontinuity);
            skip = 1;
        }
        if (rec.kind == oggmux::Kind::Unknown) {
            EXPECT_TRUE(got.empty()) << "an unknown codec's stream has no media stream";
            continue;
        } else {
            ASSERT_EQ(got.size() - skip, rec.packets.size());
            for (size_t i = 0; i < rec.packets.size(); ++i) {
                EXPECT_EQ(got[skip + i].crc, rec.packets[i].crc32) << "packet " << i;
                EXPECT_EQ(got[skip + i].discontinuity, i == 0) << "packet " << i;
            }
        }
        EXPECT_EQ(r.endOfStream[rec.serial], 1) << "one end of stream per stream";
        if (rec.kind == oggmux::Kind::OgmVideo) {
            for (size_t i = 0; i < rec.packets.size(); ++i) {
                EXPECT_EQ(got[i].time, rec.packets[i].granule * 400000);
                EXPECT_EQ(got[i].duration, 400000);
                EXPECT_EQ(got[i].clean, i % 8 == 0);
            }
        }
        if (rec.kind == oggmux::Kind::Theora) {
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].time, static_cast<LONGLONG>(i) * 400000) << "frame " << i;
                EXPECT_EQ(got[i].duration, 400000);
                EXPECT_EQ(got[i].clean, rec.packets[i].key);
            }
        }
        if (rec.kind == oggmux::Kind::Vorbis) {
            for (size_t i = 0; i < rec.packets.size(); ++i) {
                EXPECT_EQ(got[3 + i].time, (rec.packets[i].granule * 10000000 + 22050) / 44100) << i;
                EXPECT_EQ(got[3 + i].duration, 0);
                EXPECT_TRUE(got[3 + i].clean);
            }
        }
        if (rec.kind == oggmux::Kind::OgmText) {
            for (size_t i = 0; i < rec.packets.size(); ++i) {
                EXPECT_EQ(got[1 + i].time, rec.packets[i].granule * 10000);
                EXPECT_EQ(got[1 + i].duration, 1500 * 10000);
            }
        }
    }
    // The presentation ends after every selected stream has ended.
    EXPECT_EQ(std::count(r.sourceEvents.begin(), r.sourceEvents.end(), MEEndOfPresentation), 1);
}

TEST_F(PlayTest, EventOrderStopAndAnotherRun) {
    Fixture f = MakeFile("events", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1},
        {"kind": "ogm_video", "serial": 2, "packets": 25}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    host::Player player(s.source.Get());
    host::PlayResult first = player.Play(host::PlayOptions{});
    ASSERT_EQ(first.status, S_OK);
    std::vector<MediaEventType> head(first.sourceEvents.begin(), first.sourceEvents.begin() + 3);
    EXPECT_EQ(head, (std::vector<MediaEventType>{MENewStream, MENewStream, MESourceStarted}));
    EXPECT_EQ(first.streamEvents[1].front(), MEStreamStarted);
    EXPECT_EQ(first.streamEvents[2].back(), MEEndOfStream);

    // Stop, then play again: the streams are announced as updated and everything comes again.
    ASSERT_EQ(s->Stop(), S_OK);
    host::PlayResult second = player.Play(host::PlayOptions{});
    ASSERT_EQ(second.status, S_OK);
    EXPECT_EQ(second.sourceEvents[0], MESourceStopped);
    EXPECT_EQ(second.sourceEvents[1], MEUpdatedStream);
    ASSERT_EQ(second.samples.size(), first.samples.size());
    for (DWORD id : {1u, 2u}) {
        auto a = Of(first, id), b = Of(second, id);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].crc, b[i].crc);
            EXPECT_EQ(a[i].time, b[i].time);
        }
        EXPECT_TRUE(b[id == 1 ? 3 : 0].discontinuity) << "a new run begins with a discontinuity";
    }
}

TEST_F(PlayTest, SourceMethodChecksAndShutdown) {
    Fixture f = MakeFile("checks", R"({"streams": [{"kind": "ogm_audio", "serial": 1, "packets": 10},
        {"kind": "ogm_video", "serial": 2, "packets": 10}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    DWORD c = 0;
    EXPECT_EQ(s->GetCharacteristics(&c), S_OK);
    EXPECT_EQ(c, 6u);
    PlatRef<IMFPresentationDescriptor> pd, other;
    ASSERT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    pd->DeselectStream(0);
    pd->DeselectStream(1);
    ASSERT_EQ(s->CreatePresentationDescriptor(&other), S_OK);
    BOOL selected = FALSE;
    PlatRef<IMFStreamDescriptor> sd;
    other->GetStreamDescriptorByIndex(0, &selected, &sd);
    EXPECT_TRUE(selected) << "a clone's selection is its own";
    // A media stream to ask after the shutdown: the one a start announces.
    PlatRef<IMFMediaStream> media;
    {
        PROPVARIANT empty;
        PropVariantInit(&empty);
        ASSERT_EQ(s->Start(other.Get(), nullptr, &empty), S_OK);
        for (;;) {
            PlatRef<IMFMediaEvent> ev;
            ASSERT_EQ(s->GetEvent(0, &ev), S_OK);
            MediaEventType t;
            ev->GetType(&t);
            if (t == MENewStream) {
                PROPVARIANT v;
                PropVariantInit(&v);
                ev->GetValue(&v);
                if (!media) v.punkVal->QueryInterface(IID_IMFMediaStream, reinterpret_cast<void**>(&media));
                PropVariantClear(&v);
            }
            if (t == MESourceStarted) break;
        }
        ASSERT_TRUE(media);
        ASSERT_EQ(s->Stop(), S_OK);
        for (;;) {
            PlatRef<IMFMediaEvent> ev;
            ASSERT_EQ(s->GetEvent(0, &ev), S_OK);
            MediaEventType t;
            ev->GetType(&t);
            if (t == MESourceStopped) break;
        }
    }

    PROPVARIANT start;
    PropVariantInit(&start);
    EXPECT_EQ(s->Start(pd.Get(), nullptr, &start), E_INVALIDARG) << "no stream selected";
    EXPECT_EQ(s->Start(nullptr, nullptr, &start), E_INVALIDARG);
    GUID format = MF_PD_DURATION;
    EXPECT_EQ(s->Start(other.Get(), &format, &start), MF_E_UNSUPPORTED_TIME_FORMAT);
    start.vt = VT_R8;
    EXPECT_EQ(s->Start(other.Get(), nullptr, &start), MF_E_UNSUPPORTED_TIME_FORMAT);

    // A pause while stopped is refused from the call; nothing is posted (no MESourcePaused, no MEError).
    PlatRef<IMFMediaEvent> e;
    EXPECT_EQ(s->Pause(), MF_E_INVALID_STATE_TRANSITION);
    EXPECT_EQ(s->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e), MF_E_NO_EVENTS_AVAILABLE);

    ASSERT_EQ(s->Shutdown(), S_OK);
    EXPECT_EQ(s->Shutdown(), MF_E_SHUTDOWN);
    EXPECT_EQ(s->GetCharacteristics(nullptr), E_POINTER);
    EXPECT_EQ(s->Start(other.Get(), nullptr, &start), MF_E_UNSUPPORTED_TIME_FORMAT) << "argument checks come first";
    start.vt = VT_EMPTY;
    // After the shutdown every method of the source and its streams answers MF_E_SHUTDOWN (with valid arguments).
    PlatRef<IMFRateControl> rate;
    PlatRef<IMFRateSupport> support;
    PlatRef<IMFGetService> service;
    ASSERT_EQ(s->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&rate)), S_OK);
    ASSERT_EQ(s->QueryInterface(IID_IMFRateSupport, reinterpret_cast<void**>(&support)), S_OK);
    ASSERT_EQ(s->QueryInterface(IID_IMFGetService, reinterpret_cast<void**>(&service)), S_OK);
    float r = 0;
    BOOL thin = FALSE;
    PlatRef<IUnknown> object;
    PlatRef<IMFMediaSource> back;
    PlatRef<IMFStreamDescriptor> desc;
    const struct {
        const char* call;
        HRESULT hr;
    } table[] = {
        {"GetCharacteristics", s->GetCharacteristics(&c)},
        {"CreatePresentationDescriptor", s->CreatePresentationDescriptor(&pd)},
        {"Start", s->Start(other.Get(), nullptr, &start)},
        {"Stop", s->Stop()},
        {"Pause", s->Pause()},
        {"GetEvent", s->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e)},
        {"BeginGetEvent", s->BeginGetEvent(nullptr, nullptr)},
        {"QueueEvent", s->QueueEvent(MEError, GUID_NULL, S_OK, nullptr)},
        {"SetRate", rate->SetRate(FALSE, 2.0f)},
        {"GetRate", rate->GetRate(&thin, &r)},
        {"IsRateSupported", support->IsRateSupported(FALSE, 1.0f, nullptr)},
        {"GetFastestRate", support->GetFastestRate(MFRATE_FORWARD, FALSE, &r)},
        {"GetSlowestRate", support->GetSlowestRate(MFRATE_FORWARD, FALSE, &r)},
        {"GetService", service->GetService(MF_RATE_CONTROL_SERVICE, IID_IMFRateControl, reinterpret_cast<void**>(&object))},
        {"stream GetEvent", media->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e)},
        {"stream QueueEvent", media->QueueEvent(MEError, GUID_NULL, S_OK, nullptr)},
        {"stream GetMediaSource", media->GetMediaSource(&back)},
        {"stream GetStreamDescriptor", media->GetStreamDescriptor(&desc)},
        {"stream RequestSample", media->RequestSample(nullptr)},
    };
    for (const auto& row : table) EXPECT_EQ(row.hr, MF_E_SHUTDOWN) << row.call;
}

// Sample times stay on the presentation's timeline at every rate (the presentation clock runs at the rate); the
// rate is what GetRate answers and what MESourceRateChanged carries.
TEST_F(PlayTest, SampleTimesStayOnTheTimelineAtEveryRate) {
    Fixture f = MakeFile("rate", R"({"streams": [{"kind": "ogm_video", "serial": 2, "packets": 20}]})");
    for (float rate : {2.0f, 0.5f, 0.0f}) {
        SCOPED_TRACE(rate);
        OpenedSource s(f.path);
        ASSERT_EQ(s.hr, S_OK);
        host::PlayOptions o;
        o.rate = rate;
        host::PlayResult r = host::Play(s.source.Get(), o);
        ASSERT_EQ(r.status, S_OK);
        ASSERT_EQ(r.samples.size(), 20u) << "the whole file at every rate";
        for (size_t i = 0; i < r.samples.size(); ++i) {
            EXPECT_EQ(r.samples[i].time, static_cast<LONGLONG>(i) * 400000);
            EXPECT_EQ(r.samples[i].duration, 400000);
        }
        EXPECT_EQ(r.endOfStream[2], 1);
        EXPECT_NE(std::find(r.sourceEvents.begin(), r.sourceEvents.end(), MESourceRateChanged), r.sourceEvents.end());
        PlatRef<IMFRateControl> control;
        ASSERT_EQ(s->QueryInterface(IID_IMFRateControl, reinterpret_cast<void**>(&control)), S_OK);
        float now = -1;
        ASSERT_EQ(control->GetRate(nullptr, &now), S_OK);
        EXPECT_EQ(now, rate == 0.0f ? 1.0f : rate);
    }
}

// A read that fails during the play fails it: the host hears the read's error (MEError), and nothing hangs.
TEST_F(PlayTest, ReadFailuresFailThePlayInsteadOfHanging) {
    Fixture f = MakeFile("failing", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 3},
        {"kind": "ogm_video", "serial": 2, "packets": 300, "packet_size": 2000}]})");
    for (long failAt : {0L, 2L, 7L}) {
        for (bool always : {false, true}) {
            SCOPED_TRACE(failAt);
            PlatRef<IMFByteStream> file, faulty;
            MFCreateFileByteStreamA(f.path.c_str(), &file);
            MFCreateFaultByteStream(file.Get(), nullptr, &faulty);
            OpenedSource s(faulty.Get());
            ASSERT_EQ(s.hr, S_OK);
            // The reads of the open are over: fail a read of the playback.
            PlatRef<IFaultByteStreamControl> control;
            faulty->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control));
            uint64_t reads = 0;
            control->GetCounters(&reads, nullptr);
            FaultConfig c;
            c.failReadIndex = static_cast<long>(reads) + failAt;
            c.failAllAfter = always;
            control->Reconfigure(c);
            host::PlayOptions o;
            o.timeoutMs = 20000;
            host::PlayResult r = host::Play(s.source.Get(), o);
            EXPECT_FALSE(r.timedOut);
            EXPECT_EQ(r.status, E_FAIL) << host::HResultText(r.status);
        }
    }
}

TEST_F(PlayTest, ShutdownWhilePlayingAndReleaseWithoutShutdown) {
    Fixture f = MakeFile("shutdown", R"({"streams": [{"kind": "ogm_video", "serial": 2, "packets": 200}]})");
    {
        PlatRef<IMFByteStream> file, slow;
        MFCreateFileByteStreamA(f.path.c_str(), &file);
        FaultConfig c;
        c.readDelayMicros = 20000;
        MFCreateFaultByteStream(file.Get(), &c, &slow);
        OpenedSource s(slow.Get());
        ASSERT_EQ(s.hr, S_OK);
        host::PlayOptions o;
        o.maxSamples = 3;
        host::PlayResult r = host::Play(s.source.Get(), o);
        EXPECT_EQ(r.samples.size(), 3u);
        EXPECT_EQ(s->Shutdown(), S_OK) << "returns while production may still wait for data";
    }
    {
        PlatRef<IMFMediaSource> source;
        ASSERT_EQ(host::OpenFile(f.path, &source), S_OK);
        host::PlayOptions o;
        o.maxSamples = 5;
        host::Play(source.Get(), o);
        // The host lets go without Shutdown: the last Release shuts down and frees everything.
    }
}

TEST_F(PlayTest, PauseResumeAndRefusals) {
    Fixture f = MakeFile("pause", R"({"streams": [{"kind": "ogm_video", "serial": 2, "packets": 40}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IMFPresentationDescriptor> pd;
    s->CreatePresentationDescriptor(&pd);
    auto next = [&](IMFMediaEventGenerator* g, MediaEventType* type, HRESULT* status, PROPVARIANT* value = nullptr) {
        PlatRef<IMFMediaEvent> e;
        HRESULT hr = g->GetEvent(0, &e);
        if (FAILED(hr)) return PlatRef<IMFMediaEvent>();
        e->GetType(type);
        e->GetStatus(status);
        if (value) e->GetValue(value);
        return e;
    };
    MediaEventType type;
    HRESULT status;
    PROPVARIANT empty;
    PropVariantInit(&empty);
    ASSERT_EQ(s->Start(pd.Get(), nullptr, &empty), S_OK);
    PROPVARIANT v;
    PropVariantInit(&v);
    next(s.source.Get(), &type, &status, &v);
    ASSERT_EQ(type, MENewStream);
    PlatRef<IMFMediaStream> stream;
    v.punkVal->QueryInterface(IID_IMFMediaStream, reinterpret_cast<void**>(&stream));
    PropVariantClear(&v);
    next(s.source.Get(), &type, &status);
    EXPECT_EQ(type, MESourceStarted);
    next(stream.Get(), &type, &status);
    EXPECT_EQ(type, MEStreamStarted);
    ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
    next(stream.Get(), &type, &status);
    EXPECT_EQ(type, MEMediaSample);

    // Paused: a request is accepted and waits until the stream is started again.
    ASSERT_EQ(s->Pause(), S_OK);
    next(stream.Get(), &type, &status);
    EXPECT_EQ(type, MEStreamPaused);
    next(s.source.Get(), &type, &status);
    EXPECT_EQ(type, MESourcePaused);
    EXPECT_EQ(status, S_OK);
    ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
    Sleep(100);
    PlatRef<IMFMediaEvent> none;
    EXPECT_EQ(stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &none), MF_E_NO_EVENTS_AVAILABLE) << "nothing while paused";

    // Resume from the current position: MESourceStarted carries the actual start.
    ASSERT_EQ(s->Start(pd.Get(), nullptr, &empty), S_OK);
    PlatRef<IMFMediaEvent> started;
    do {
        started = next(s.source.Get(), &type, &status);
    } while (started && type != MESourceStarted);
    ASSERT_TRUE(started);
    UINT64 actual = ~0ull;
    EXPECT_EQ(started->GetUINT64(MF_EVENT_SOURCE_ACTUAL_START, &actual), S_OK);
    EXPECT_LT(actual, 40u * 400000);
    next(stream.Get(), &type, &status);
    EXPECT_EQ(type, MEStreamStarted);
    next(stream.Get(), &type, &status);
    EXPECT_EQ(type, MEMediaSample) << "the request made while paused is served";

    // Stopped: a request is refused from the call, and nothing is queued on the source.
    ASSERT_EQ(s->Stop(), S_OK);
    do {
        next(s.source.Get(), &type, &status);
    } while (type != MESourceStopped);
    EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
    EXPECT_EQ(s->GetEvent(MF_EVENT_FLAG_NO_WAIT, &none), MF_E_NO_EVENTS_AVAILABLE) << "no MEError";
}
