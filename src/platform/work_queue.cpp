// The standard work queue: posted results run on a pool of worker threads. The pool grows while
// every worker is busy, so a callback that blocks for a while never holds up other work items.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "async_result.h"
#include "mfapi.h"
#include "kernel.h"
#include "module.h"

namespace {
constexpr size_t kMaxWorkers = 64;

class WorkQueue {
public:
    HRESULT Startup() {
        std::lock_guard<std::mutex> g(m_lock);
        ++m_startups;
        return S_OK;
    }

    HRESULT Shutdown() {
        std::vector<std::thread> workers;
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (m_startups == 0) return S_OK;
            if (--m_startups > 0) return S_OK;
            workers.swap(m_workers);
            m_stopping = true;
        }
        m_wake.notify_all();
        // Workers drain what is queued, then end. A worker that calls MFShutdown itself is let go.
        for (auto& t : workers) {
            if (t.get_id() == std::this_thread::get_id()) t.detach();
            else t.join();
        }
        std::lock_guard<std::mutex> g(m_lock);
        m_stopping = false;
        return S_OK;
    }

    // adopt: the queue takes over the caller's reference instead of adding one.
    HRESULT Put(IMFAsyncResult* result, bool adopt) {
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (m_startups == 0 || m_stopping) return MF_E_SHUTDOWN;
            try {
                m_items.push_back(result);
                if (m_items.size() > m_idle && m_workers.size() < kMaxWorkers)
                    m_workers.emplace_back([this] { Worker(); });
            } catch (...) {
                if (!m_items.empty() && m_items.back() == result) m_items.pop_back();
                return E_OUTOFMEMORY;
            }
            if (!adopt) result->AddRef();
        }
        m_wake.notify_one(); // after the lock: the woken worker does not block on it at once
        return S_OK;
    }

private:
    void Worker() {
        PlatNameThisThread("mf work queue"); // not the name of the thread that happened to post the item
        std::unique_lock<std::mutex> g(m_lock);
        for (;;) {
            ++m_idle;
            m_wake.wait(g, [this] { return !m_items.empty() || m_stopping; });
            --m_idle;
            if (m_items.empty()) return; // stopping, and nothing left to run
            IMFAsyncResult* result = m_items.front();
            m_items.pop_front();
            g.unlock();
            PlatInvokeNow(result);
            result->Release();
            g.lock();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<IMFAsyncResult*> m_items;
    std::vector<std::thread> m_workers;
    size_t m_idle = 0;
    int m_startups = 0;
    bool m_stopping = false;
};

// Never destroyed: a process that ends without MFShutdown must not tear the lock down under
// workers that still wait on it.
WorkQueue& Queue() {
    static WorkQueue* queue = new WorkQueue;
    return *queue;
}
} // namespace

HRESULT PlatQueueResult(IMFAsyncResult* result) { return Queue().Put(result, false); }
HRESULT PlatQueueResultAdopt(IMFAsyncResult* result) { return Queue().Put(result, true); }

extern "C" HRESULT MFStartup(ULONG, DWORD) { return Queue().Startup(); }
extern "C" HRESULT MFShutdown() {
    HRESULT hr = Queue().Shutdown();
    CoFreeUnusedLibraries(); // modules whose objects are all gone may go with the platform
    return hr;
}
