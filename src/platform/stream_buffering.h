// The buffering events of a network byte stream: IMFMediaEventGenerator over a queue of its own, and
// MEBufferingStarted / MEBufferingStopped around a read that waits for the network, while enabled
// (IMFByteStreamBuffering::EnableBuffering).
#pragma once
#include <chrono>
#include <mutex>

#include "com_impl.h"
#include "mfapi.h"
#include "mfidl.h"

// A read waits this long for the network before the stream says it is buffering: a read that the next
// packet satisfies at once is no underrun worth telling a host about.
constexpr auto kBufferingAfter = std::chrono::milliseconds(250);

class StreamBuffering {
public:
    HRESULT Init() { return MFCreateEventQueue(&m_queue); }
    IMFMediaEventQueue* Queue() const { return m_queue.Get(); }
    HRESULT Enable(bool on) {
        std::lock_guard<std::mutex> g(m_lock);
        m_enabled = on;
        if (!on) StopLocked();
        return S_OK;
    }
    HRESULT Stop() {
        std::lock_guard<std::mutex> g(m_lock);
        StopLocked();
        return S_OK;
    }
    // A read has waited kBufferingAfter without all its data.
    void Waiting() {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_enabled || m_buffering) return;
        m_buffering = true;
        m_queue->QueueEventParamVar(MEBufferingStarted, GUID_NULL, S_OK, nullptr);
    }
    // The read that waited has what it asked for (or ended).
    void Done() {
        std::lock_guard<std::mutex> g(m_lock);
        StopLocked();
    }
    void Shutdown() {
        if (m_queue) m_queue->Shutdown();
    }

private:
    void StopLocked() {
        if (!m_buffering) return;
        m_buffering = false;
        m_queue->QueueEventParamVar(MEBufferingStopped, GUID_NULL, S_OK, nullptr);
    }
    std::mutex m_lock;
    PlatRef<IMFMediaEventQueue> m_queue;
    bool m_enabled = false, m_buffering = false;
};
