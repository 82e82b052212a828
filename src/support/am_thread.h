// A worker thread with a synchronous request/reply channel: the client sends a code and waits for
// the worker's answer; one exchange at a time.
#pragma once
#include <atomic>
#include <thread>

#include "alloc.h"
#include "event.h"
#include "lock.h"

class CAMThread : public CNoThrowAlloc {
public:
    explicit CAMThread(HRESULT* phr = nullptr);
    // The name the worker thread carries (the system's thread list shows it).
    void SetThreadName(const char* name) { m_name = name; }
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts the worker; FALSE when a worker is already held or the thread cannot be made.
    BOOL Create();
    // Client side: sends a code and returns the worker's reply; E_FAIL without a worker.
    DWORD SendRequest(DWORD request);
    // Worker side.
    DWORD TakeRequest();
    void Reply(DWORD reply);
    // The worker's send event, for a worker that waits on it together with events of its own.
    CEvent* RequestEvent() { return &m_evSend; }
    bool CheckRequest(DWORD* request);
    bool ThreadExists() const { return m_hThread.load() != nullptr; }
    // Takes the thread handle and waits for the thread to end (unless called from it); the owner has
    // sent its exit request first.
    void EndThread() { JoinThread(); }

protected:
    virtual DWORD WorkerMain() = 0;
    // The owner calls this first in its own destructor, after sending its exit code, so that the
    // worker has ended before the derived members it uses go away.
    void JoinThread();

private:
    static void Entry(CAMThread* self);
#ifdef _WIN32
    static DWORD WINAPI WindowsEntry(void* self);
#endif

    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    CEvent m_evSend{TRUE};
    CEvent m_evComplete{FALSE};
    // The thread: a std::thread here, the system's thread handle on Windows (see WindowsEntry).
    std::atomic<void*> m_hThread{nullptr};
    std::atomic<DWORD> m_dwWorkerId{0};
    CLock m_AccessLock;
    const char* m_name = "worker";
};
