// Growable byte buffers: CBuffer on the C runtime's heap, CHeapBuffer (object and storage) on the process
// heap, so that any module of the process may free it.
#pragma once
#include <cstdarg>

#include "alloc.h"
#include "platform/platform.h"

class CBaseBuffer {
public:
    typedef void (*ReleaseFn)(void* block);
    typedef void* (*ReallocFn)(void* block, size_t bytes);

    virtual ~CBaseBuffer() = default;
    virtual void Free();
    virtual BOOL Reserve(int32_t bytes);

    HRESULT Append(const void* bytes, int32_t count);
    void Clear() { m_size = 0; }
    HRESULT Swap(CBaseBuffer* other);
    HRESULT Format(const char* format, ...) PLAT_PRINTF_FORMAT(2, 3);
    HRESULT FormatV(const char* format, va_list args);

    BYTE* Data() const { return m_data; }
    int32_t Size() const { return m_size; }
    int32_t Capacity() const { return m_capacity; }

protected:
    CBaseBuffer(ReleaseFn release, ReallocFn realloc) : m_release(release), m_realloc(realloc) {}

    BYTE* m_data = nullptr;
    int32_t m_size = 0;
    int32_t m_capacity = 0;
    ReleaseFn m_release;
    ReallocFn m_realloc;
};

class CBuffer : public CBaseBuffer, public CNoThrowAlloc {
public:
    CBuffer();
    ~CBuffer() override { Free(); }
};

class CHeapBuffer : public CBaseBuffer {
public:
    CHeapBuffer();
    ~CHeapBuffer() override { Free(); }
    // The object itself lives on the process heap too.
    static void* operator new(size_t size) noexcept { return HeapAlloc(GetProcessHeap(), 0, size); }
    static void operator delete(void* p) noexcept { HeapFree(GetProcessHeap(), 0, p); }
};
