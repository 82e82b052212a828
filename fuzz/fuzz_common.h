// Shared by the fuzz targets: the platform started once, and an open through the byte-stream handler over
// the fuzzer's bytes.
#pragma once
#include <cstdlib>
#include <vector>

#include "host.h"
#include "platform/completion.h"
#include "source/byte_stream_handler.h"

namespace fuzz {

inline void Startup() {
    static bool started = (MFStartup(MF_VERSION, MFSTARTUP_FULL), setenv("OGGSOURCE_REGISTRY", "/dev/null/none", 1), true);
    (void)started;
}

// How the bytes come: from a file, read once (a server without ranges, no length), or as a broadcast (remote
// too, its buffering told on every read).
enum class Bytes { File, ReadOnce, Broadcast };

// The source over the bytes, through BeginCreateObject / EndCreateObject; null when the open refuses.
// `cancel`: the open is cancelled as soon as it has begun (it may finish first): either way its callback comes.
inline PlatRef<IMFMediaSource> Open(const uint8_t* data, size_t size, Bytes bytes = Bytes::File, bool cancel = false) {
    Startup();
    PlatRef<IMFMediaSource> source;
    PlatRef<IMFByteStream> stream;
    if (FAILED(MFCreateMemoryByteStream(data, size, &stream))) return source;
    if (bytes != Bytes::File) {
        FaultConfig c;
        c.notSeekable = c.lengthUnknown = true;
        c.remote = c.buffering = bytes == Bytes::Broadcast;
        PlatRef<IMFByteStream> inner = stream;
        stream.Reset(nullptr);
        if (FAILED(MFCreateFaultByteStream(inner.Get(), &c, &stream))) return source;
    }
    PlatRef<IMFByteStreamHandler> handler;
    if (FAILED(OGGByteStreamHandler::CreateInstance(nullptr, IID_IMFByteStreamHandler, reinterpret_cast<void**>(&handler))))
        return source;
    PlatRef<PlatCompletion> done;
    done.Attach(new PlatCompletion);
    PlatRef<IUnknown> cookie;
    if (FAILED(handler->BeginCreateObject(stream.Get(), L"f.ogg", MF_RESOLUTION_MEDIASOURCE, nullptr, &cookie,
                                          done.Get(), nullptr)))
        return source;
    if (cancel && handler->CancelObjectCreation(cookie.Get()) != S_OK) std::abort(); // its own cookie
    PlatRef<IMFAsyncResult> result = done->Take(20000);
    if (!result) std::abort(); // a hang
    MF_OBJECT_TYPE type;
    PlatRef<IUnknown> object;
    if (SUCCEEDED(handler->EndCreateObject(result.Get(), &type, &object)))
        object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&source));
    return source;
}

// The identifiers of every stream of the presentation.
inline std::vector<DWORD> StreamIds(IMFMediaSource* source) {
    std::vector<DWORD> ids;
    PlatRef<IMFPresentationDescriptor> pd;
    if (FAILED(source->CreatePresentationDescriptor(&pd))) return ids;
    DWORD count = 0;
    pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected;
        PlatRef<IMFStreamDescriptor> sd;
        DWORD id = 0;
        pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        sd->GetStreamIdentifier(&id);
        ids.push_back(id);
    }
    return ids;
}

// Plays with every stream selected, at most `samples` samples; a silent source is a hang.
inline void Play(IMFMediaSource* source, size_t samples, bool startAt = false, LONGLONG start = 0) {
    host::PlayOptions o;
    o.streams = StreamIds(source);
    o.maxSamples = samples;
    o.startAt = startAt;
    o.start = start;
    o.timeoutMs = 20000;
    host::PlayResult r = host::Play(source, o);
    if (r.timedOut) std::abort(); // the source fell silent
}

} // namespace fuzz
