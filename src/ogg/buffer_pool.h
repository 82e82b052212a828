// The buffers of a stream's samples, reused: each is sized to its packet (rounded up to a power of two), and
// goes back to the pool when the host releases the sample that holds it. A stream whose largest possible sample
// is large (a 720p Theora stream's is 5.5 MB) no longer allocates that much for every packet.
#pragma once
#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "support/alloc.h"

class CBufferPool : public CNoThrowAlloc {
public:
    static CBufferPool* Create(); // null when out of memory
    void AddRef() { ++m_refs; }
    void Release();
    // A buffer of at least `length` bytes, its current length 0.
    HRESULT Get(DWORD length, IMFMediaBuffer** buffer);
    // A block back from a buffer the host let go of: kept for the next sample, or freed beyond the pool's limits.
    void Return(BYTE* block, int sizeClass);
    // Blocks kept now (for tests and the bench).
    size_t KeptBytes();

    static constexpr int kMinClass = 8;   // 256 bytes
    static constexpr int kClasses = 32;   // up to 2 GB
    static constexpr int kKeptPerClass = 48;
    static constexpr size_t kKeptBytes = 24u << 20;

private:
    CBufferPool() = default;
    ~CBufferPool();
    struct FreeList {
        BYTE* blocks[kKeptPerClass];
        int count = 0;
    };
    std::atomic<long> m_refs{1};
    std::mutex m_lock;
    FreeList m_free[kClasses];
    size_t m_kept = 0;
};
