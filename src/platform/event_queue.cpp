// The event queue behind every media event generator: events come out in the order queued, to one
// subscriber at a time, either a blocking GetEvent or a pending BeginGetEvent.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "async_result.h"
#include "com_impl.h"
#include "mfapi.h"

namespace {
class EventQueue final : public IMFMediaEventQueue {
    PLAT_REFCOUNT(EventQueue)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(EventQueue, IMFMediaEventQueue), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }

    HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) override {
        if (!event) return E_POINTER;
        *event = nullptr;
        std::unique_lock<std::mutex> g(m_lock);
        if (m_shutdown) return MF_E_SHUTDOWN;
        if (m_callback || m_waiters) return MF_E_MULTIPLE_SUBSCRIBERS;
        if (m_events.empty() && (flags & MF_EVENT_FLAG_NO_WAIT)) return MF_E_NO_EVENTS_AVAILABLE;
        ++m_waiters;
        m_wake.wait(g, [this] { return !m_events.empty() || m_shutdown; });
        --m_waiters;
        if (m_shutdown) return MF_E_SHUTDOWN;
        *event = m_events.front();
        m_events.pop_front();
        return S_OK;
    }

    HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
        if (!callback) return E_INVALIDARG;
        std::lock_guard<std::mutex> g(m_lock);
        if (m_shutdown) return MF_E_SHUTDOWN;
        if (m_callback) return m_callback.Get() == callback ? MF_E_MULTIPLE_BEGIN : MF_E_MULTIPLE_SUBSCRIBERS;
        if (m_waiters) return MF_E_MULTIPLE_SUBSCRIBERS;
        m_callback.Reset(callback);
        m_state.Reset(state);
        if (!m_events.empty()) return Dispatch(S_OK);
        return S_OK;
    }

    HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        if (!result || !event) return E_POINTER;
        *event = nullptr;
        HRESULT hr = result->GetStatus();
        if (FAILED(hr)) return hr;
        PlatRef<IUnknown> object;
        hr = result->GetObject(&object);
        if (FAILED(hr)) return E_INVALIDARG;
        return object->QueryInterface(IID_IMFMediaEvent, reinterpret_cast<void**>(event));
    }

    HRESULT QueueEvent(IMFMediaEvent* event) override {
        if (!event) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (m_shutdown) return MF_E_SHUTDOWN;
        if (PlatSystemAllocationRefused()) return E_OUTOFMEMORY;
        try {
            m_events.push_back(event);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        event->AddRef();
        if (m_callback) return Dispatch(S_OK, true);
        m_wake.notify_one();
        return S_OK;
    }

    HRESULT QueueEventParamVar(MediaEventType type, REFGUID extended, HRESULT status,
                               const PROPVARIANT* value) override {
        PlatRef<IMFMediaEvent> event;
        HRESULT hr = MFCreateMediaEvent(type, extended, status, value, &event);
        return SUCCEEDED(hr) ? QueueEvent(event.Get()) : hr;
    }

    HRESULT QueueEventParamUnk(MediaEventType type, REFGUID extended, HRESULT status,
                               IUnknown* unknown) override {
        PROPVARIANT v;
        PropVariantInit(&v);
        v.vt = VT_UNKNOWN;
        v.punkVal = unknown;
        return QueueEventParamVar(type, extended, status, &v);
    }

    HRESULT Shutdown() override {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_shutdown) return S_OK;
        m_shutdown = true;
        for (IMFMediaEvent* e : m_events) e->Release();
        m_events.clear();
        // A pending BeginGetEvent is completed with MF_E_SHUTDOWN, so its owner is not left waiting.
        if (m_callback) Dispatch(MF_E_SHUTDOWN);
        m_wake.notify_all();
        return S_OK;
    }

private:
    virtual ~EventQueue() {
        for (IMFMediaEvent* e : m_events) e->Release();
    }

    // Hands the first event (or a failure status) to the pending callback on the work queue. When that fails
    // for an event being queued, the event is not queued (the caller is told) and the subscriber stays.
    HRESULT Dispatch(HRESULT status, bool queueing = false) {
        PlatRef<IMFMediaEvent> event;
        if (SUCCEEDED(status)) {
            event.Attach(m_events.front());
            m_events.pop_front();
        }
        PlatRef<IMFAsyncResult> result;
        HRESULT hr = MFCreateAsyncResult(event.Get(), m_callback.Get(), m_state.Get(), &result);
        if (SUCCEEDED(hr)) {
            result->SetStatus(status);
            hr = PlatQueueResult(result.Get());
        }
        if (FAILED(hr) && queueing) return hr; // the event goes with `event`
        if (FAILED(hr) && event) m_events.push_front(event.Detach()); // keep it for the next subscriber
        m_callback.Reset(nullptr);
        m_state.Reset(nullptr);
        return hr;
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<IMFMediaEvent*> m_events;
    PlatRef<IMFAsyncCallback> m_callback;
    PlatRef<IUnknown> m_state;
    int m_waiters = 0;
    bool m_shutdown = false;
};
} // namespace

extern "C" HRESULT MFCreateEventQueue(IMFMediaEventQueue** queue) { return PlatCreate<EventQueue>(queue); }
