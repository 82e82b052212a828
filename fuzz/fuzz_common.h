// Shared by the fuzz targets: the platform started once, and an open through the byte-stream handler over
// the fuzzer's bytes.
#pragma once
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "host.h"
#include "source/byte_stream_handler.h"

namespace fuzz {

class Completion final : public IMFAsyncCallback {
    PLAT_REFCOUNT(Completion)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(Completion, IMFAsyncCallback), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Invoke(IMFAsyncResult* r) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_result.Reset(r);
        m_wake.notify_all();
        return S_OK;
    }
    PlatRef<IMFAsyncResult> Take() {
        std::unique_lock<std::mutex> g(m_lock);
        if (!m_wake.wait_for(g, std::chrono::seconds(20), [this] { return bool(m_result); })) std::abort(); // a hang
        PlatRef<IMFAsyncResult> r = m_result;
        m_result.Reset(nullptr);
        return r;
    }

private:
    virtual ~Completion() = default;
    std::mutex m_lock;
    std::condition_variable m_wake;
    PlatRef<IMFAsyncResult> m_result;
};

inline void Startup() {
    static bool started = (MFStartup(MF_VERSION, MFSTARTUP_FULL), setenv("OGGSOURCE_REGISTRY", "/dev/null/none", 1), true);
    (void)started;
}

// The source over the bytes, through BeginCreateObject / EndCreateObject; null when the open refuses.
inline PlatRef<IMFMediaSource> Open(const uint8_t* data, size_t size) {
    Startup();
    PlatRef<IMFMediaSource> source;
    PlatRef<IMFByteStream> stream;
    if (FAILED(MFCreateMemoryByteStream(data, size, &stream))) return source;
    PlatRef<IMFByteStreamHandler> handler;
    if (FAILED(OGGByteStreamHandler::CreateInstance(nullptr, IID_IMFByteStreamHandler, reinterpret_cast<void**>(&handler))))
        return source;
    PlatRef<Completion> done;
    done.Attach(new Completion);
    if (FAILED(handler->BeginCreateObject(stream.Get(), L"f.ogg", MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr,
                                          done.Get(), nullptr)))
        return source;
    PlatRef<IMFAsyncResult> result = done->Take();
    MF_OBJECT_TYPE type;
    PlatRef<IUnknown> object;
    if (SUCCEEDED(handler->EndCreateObject(result.Get(), &type, &object)))
        object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&source));
    return source;
}

// Plays with every stream selected, at most `samples` samples; a silent source is a hang.
inline void Play(IMFMediaSource* source, size_t samples, bool startAt = false, LONGLONG start = 0) {
    PlatRef<IMFPresentationDescriptor> pd;
    if (FAILED(source->CreatePresentationDescriptor(&pd))) return;
    DWORD count = 0;
    pd->GetStreamDescriptorCount(&count);
    host::PlayOptions o;
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected;
        PlatRef<IMFStreamDescriptor> sd;
        DWORD id = 0;
        pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        sd->GetStreamIdentifier(&id);
        o.streams.push_back(id);
    }
    o.maxSamples = samples;
    o.startAt = startAt;
    o.start = start;
    o.timeoutMs = 20000;
    host::PlayResult r = host::Play(source, o);
    if (r.timedOut) std::abort(); // the source fell silent
}

} // namespace fuzz
