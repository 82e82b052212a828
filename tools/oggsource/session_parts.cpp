#include <chrono>

#include "crc32.h"
#include "session.h"

namespace session {

HRESULT STDMETHODCALLTYPE Grabber::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {QITABENT(Grabber, IMFSampleGrabberSinkCallback2),
                                  QITABENT(Grabber, IMFSampleGrabberSinkCallback),
                                  QITABENT(Grabber, IMFClockStateSink),
                                  {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

HRESULT STDMETHODCALLTYPE Grabber::OnProcessSample(REFGUID major, DWORD flags, LONGLONG time,
                                                   LONGLONG duration, const BYTE* data, DWORD size) {
    return OnProcessSampleEx(major, flags, time, duration, data, size, nullptr);
}

// A sink that calls OnProcessSampleEx gives the sample's attributes: its clean point and discontinuity flags.
HRESULT STDMETHODCALLTYPE Grabber::OnProcessSampleEx(REFGUID, DWORD, LONGLONG time, LONGLONG duration,
                                                     const BYTE* data, DWORD size,
                                                     IMFAttributes* attributes) {
    host::Sample s;
    s.stream = m_stream;
    s.time = time;
    s.duration = duration;
    s.size = size;
    s.crc = host::Crc32(data, size);
    UINT32 v = 0;
    s.clean = attributes && SUCCEEDED(attributes->GetUINT32(MFSampleExtension_CleanPoint, &v)) && v;
    v = 0;
    s.discontinuity =
        attributes && SUCCEEDED(attributes->GetUINT32(MFSampleExtension_Discontinuity, &v)) && v;
    m_onSample(s);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Events::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {QITABENT(Events, IMFAsyncCallback), {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

HRESULT STDMETHODCALLTYPE Events::Invoke(IMFAsyncResult* result) {
    std::unique_lock<std::mutex> hold(m_lock);
    if (!m_session) return S_OK;
    PlatRef<IMFMediaEvent> event;
    HRESULT hr = m_session->EndGetEvent(result, &event);
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    if (SUCCEEDED(hr)) hr = event->GetType(&type);
    if (SUCCEEDED(hr)) hr = event->GetStatus(&status);
    if (SUCCEEDED(hr)) m_queue.push_back({type, status});
    if (SUCCEEDED(hr) && type != MESessionClosed) hr = m_session->BeginGetEvent(this, nullptr);
    if (FAILED(hr)) m_failed = hr;
    m_changed.notify_all();
    return S_OK;
}

HRESULT Events::WaitFor(MediaEventType type, unsigned ms,
                        const std::function<void(MediaEventType, HRESULT)>& seen) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        while (!m_queue.empty()) {
            const auto [got, status] = m_queue.front();
            m_queue.pop_front();
            seen(got, status);
            if (got == type) return status;
            if (got == MEError) return FAILED(status) ? status : E_FAIL;
        }
        if (FAILED(m_failed)) return m_failed;
        if (m_changed.wait_until(hold, until) == std::cv_status::timeout && m_queue.empty())
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
}

void Events::Stop() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_session.Reset(nullptr);
}

} // namespace session
