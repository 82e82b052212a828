#include "am_thread.h"

CAMThread::CAMThread(HRESULT* phr) : m_evSend(TRUE, phr), m_evComplete(FALSE, phr) {}

CAMThread::~CAMThread() { JoinThread(); }

#ifdef _WIN32
namespace {
// Set on a worker whose owner was destroyed from the worker itself: nothing the module counts waits for it.
thread_local bool t_letGo = false;
} // namespace

void CAMThread::JoinThread() {
    HANDLE t = static_cast<HANDLE>(m_hThread.exchange(nullptr));
    if (!t) return;
    if (m_dwWorkerId.load() == GetCurrentThreadId()) t_letGo = true; // destroyed from the worker: not waited for
    else WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
}

// A worker may end after every object the module counts is gone (its owner let go last, after a read nobody
// could wait for): it holds the module's code itself and lets it go as it exits, so that a host that unloads
// the module once it may never unmaps code a thread still runs.
DWORD WINAPI CAMThread::WindowsEntry(void* self) {
    HMODULE pin = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&CAMThread::WindowsEntry),
                       &pin);
    Entry(static_cast<CAMThread*>(self));
    if (pin && t_letGo) FreeLibraryAndExitThread(pin, 0);
    if (pin) FreeLibrary(pin); // joined: the owner, module code itself, is alive and waits
    return 0;
}

BOOL CAMThread::Create() {
    CAutoLock lock(m_AccessLock);
    if (m_hThread.load()) return FALSE;
    m_evSend.Reset();
    HANDLE t = CreateThread(nullptr, 0, &CAMThread::WindowsEntry, this, 0, nullptr);
    if (!t) return FALSE;
    m_hThread = t;
    return TRUE;
}
#else
void CAMThread::JoinThread() {
    auto* t = static_cast<std::thread*>(m_hThread.exchange(nullptr));
    if (!t) return;
    // Destroyed from the worker itself: the handle is let go without waiting.
    if (m_dwWorkerId.load() == GetCurrentThreadId() || t->get_id() == std::this_thread::get_id()) t->detach();
    else t->join();
    delete t;
}

BOOL CAMThread::Create() {
    CAutoLock lock(m_AccessLock);
    if (m_hThread.load()) return FALSE;
    m_evSend.Reset();
    std::thread* t = nullptr;
    try {
        t = new std::thread(Entry, this);
    } catch (...) {
        return FALSE;
    }
    m_hThread = t;
    return TRUE;
}
#endif

void CAMThread::Entry(CAMThread* self) {
#ifdef _WIN32
    // The worker calls the host's COM objects (its byte stream): it enters the multithreaded apartment
    // when COM is in the process. ole32 is looked up, never loaded; without it the worker goes straight on.
    typedef HRESULT(WINAPI * CoInitializeExFn)(void*, DWORD);
    typedef void(WINAPI * CoUninitializeFn)();
    HRESULT com = E_FAIL;
    CoUninitializeFn uninitialize = nullptr;
    if (HMODULE ole32 = GetModuleHandleA("ole32.dll")) {
        auto initialize = reinterpret_cast<CoInitializeExFn>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoInitializeEx")));
        uninitialize = reinterpret_cast<CoUninitializeFn>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoUninitialize")));
        if (initialize && uninitialize) com = initialize(nullptr, 4); // COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE
    }
#endif
    // The stand-in has no apartments (and a failed lookup of ole32 would leave a dlerror buffer in every worker).
    PlatNameThisThread(self->m_name);
    self->m_dwWorkerId = GetCurrentThreadId();
    self->WorkerMain();
#ifdef _WIN32
    if (SUCCEEDED(com)) uninitialize();
#endif
}

DWORD CAMThread::SendRequest(DWORD request) {
    CAutoLock lock(m_AccessLock);
    if (!m_hThread.load()) return static_cast<DWORD>(E_FAIL);
    if (m_evSend.IsSignalled()) m_evComplete.Wait(); // an earlier request not taken yet
    else m_evComplete.Reset();                       // drops a completion left from earlier
    if (!m_hThread.load()) return static_cast<DWORD>(E_FAIL);
    m_dwParam = request;
    m_evSend.Set();
    m_evComplete.Wait();
    return m_dwReturnVal;
}

DWORD CAMThread::TakeRequest() {
    m_evSend.Wait();
    DWORD request = m_dwParam;
    m_evSend.Reset();
    return request;
}

bool CAMThread::CheckRequest(DWORD* request) {
    if (!m_evSend.IsSignalled()) return false;
    if (request) *request = m_dwParam;
    return true;
}

void CAMThread::Reply(DWORD reply) {
    m_dwReturnVal = reply;
    m_evSend.Reset();
    m_evComplete.Set();
}
