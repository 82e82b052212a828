// The pieces of oggsource session (Windows): a sample grabber sink's callback per stream, and the session's
// events as a queue the command waits on. Their methods are called by the system: the SDK's calling
// convention.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "host.h"

namespace session {

// Receives what one stream's sample grabber sink gets: each sample's time, duration, bytes and (through
// OnProcessSampleEx) its attributes, as the host's Sample.
class Grabber final : public IMFSampleGrabberSinkCallback2 {
public:
    Grabber(DWORD stream, std::function<void(const host::Sample&)> onSample)
        : m_stream(stream), m_onSample(std::move(onSample)) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE OnClockStart(MFTIME, LONGLONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockStop(MFTIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockPause(MFTIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockRestart(MFTIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnClockSetRate(MFTIME, float) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSetPresentationClock(IMFPresentationClock*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShutdown() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProcessSample(REFGUID major, DWORD flags, LONGLONG time, LONGLONG duration,
                                              const BYTE* data, DWORD size) override;
    HRESULT STDMETHODCALLTYPE OnProcessSampleEx(REFGUID major, DWORD flags, LONGLONG time, LONGLONG duration,
                                                const BYTE* data, DWORD size,
                                                IMFAttributes* attributes) override;

private:
    virtual ~Grabber() = default;
    std::atomic<ULONG> m_cRef{1};
    DWORD m_stream;
    std::function<void(const host::Sample&)> m_onSample;
};

// The session's events, read as they come (BeginGetEvent) into a queue.
class Events final : public IMFAsyncCallback {
public:
    explicit Events(IMFMediaSession* session) : m_session(session) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override;
    HRESULT Listen() { return m_session->BeginGetEvent(this, nullptr); }
    // Waits up to `ms` for an event of that type, handing every event before it to `seen`: S_OK when it came
    // with a success status, its status when it failed, the status of an MEError before it, or ERROR_TIMEOUT
    // when none came.
    HRESULT WaitFor(MediaEventType type, unsigned ms,
                    const std::function<void(MediaEventType, HRESULT)>& seen);
    void Stop(); // drops the session: no more events are asked for

private:
    virtual ~Events() = default;
    std::atomic<ULONG> m_cRef{1};
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::pair<MediaEventType, HRESULT>> m_queue;
    PlatRef<IMFMediaSession> m_session;
    HRESULT m_failed = S_OK; // BeginGetEvent or EndGetEvent failed
};

} // namespace session
