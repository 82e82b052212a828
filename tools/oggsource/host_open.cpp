#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "host.h"
#include "source/byte_stream_handler.h"

namespace host {

namespace {
// Completes a begin/end pair: remembers the result and wakes the waiting thread.
class Completion final : public IMFAsyncCallback {
    PLAT_REFCOUNT(Completion)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(Completion, IMFAsyncCallback), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Invoke(IMFAsyncResult* result) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_result.Reset(result);
        m_wake.notify_all();
        return S_OK;
    }
    PlatRef<IMFAsyncResult> Wait(unsigned ms) {
        std::unique_lock<std::mutex> g(m_lock);
        m_wake.wait_for(g, std::chrono::milliseconds(ms), [this] { return bool(m_result); });
        // Handed over, not kept: the result holds this callback, so keeping it would make a cycle.
        PlatRef<IMFAsyncResult> result = m_result;
        m_result.Reset(nullptr);
        return result;
    }

private:
    virtual ~Completion() = default;
    std::mutex m_lock;
    std::condition_variable m_wake;
    PlatRef<IMFAsyncResult> m_result;
};
} // namespace

std::string HResultText(HRESULT hr) {
    char buf[64];
    const char* name = PlatHResultName(hr);
    if (name) std::snprintf(buf, sizeof buf, "%s (0x%08X)", name, static_cast<unsigned>(hr));
    else std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

HRESULT OpenByteStream(IMFByteStream* stream, IMFMediaSource** source) {
    *source = nullptr;
    PlatRef<IMFByteStreamHandler> handler;
    HRESULT hr = OGGByteStreamHandler::CreateInstance(nullptr, IID_IMFByteStreamHandler,
                                                      reinterpret_cast<void**>(&handler));
    if (FAILED(hr)) return hr;
    PlatRef<Completion> done;
    done.Attach(new Completion);
    IUnknown* cookie = nullptr;
    hr = handler->BeginCreateObject(stream, L"", MF_RESOLUTION_MEDIASOURCE, nullptr, &cookie, done.Get(), nullptr);
    if (FAILED(hr)) return hr;
    PlatRef<IMFAsyncResult> result = done->Wait(60000);
    if (!result) return E_ABORT;
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    PlatRef<IUnknown> object;
    hr = handler->EndCreateObject(result.Get(), &type, &object);
    if (FAILED(hr)) return hr;
    return object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(source));
}

HRESULT OpenFile(const std::string& path, IMFMediaSource** source) {
    PlatRef<IMFByteStream> stream;
    HRESULT hr = MFCreateFileByteStreamA(path.c_str(), &stream);
    if (FAILED(hr)) return hr;
    return OpenByteStream(stream.Get(), source);
}

} // namespace host
