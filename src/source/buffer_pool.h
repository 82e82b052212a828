// The buffers of a stream's samples, reused: each is sized to its packet (rounded up to a power of two up to 1 MB,
// its exact size beyond, where rounding up could cost nearly as much again), and goes back to the pool when the
// host releases the sample that holds it. Every buffer counts as a live object of the module: a host that holds a
// sample keeps the code of its buffer loaded.
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
    static constexpr int kClasses = 21;   // up to 1 MB; larger buffers are their packet's size and never kept
    static constexpr int kKeptPerClass = 160;
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
