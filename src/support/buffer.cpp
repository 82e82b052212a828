#include "buffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {
void CrtRelease(void* block) { std::free(block); }
void* CrtRealloc(void* block, size_t bytes) { return std::realloc(block, bytes ? bytes : 1); }
void HeapRelease(void* block) { HeapFree(GetProcessHeap(), 0, block); }
void* HeapRealloc(void* block, size_t bytes) {
    return block ? HeapReAlloc(GetProcessHeap(), 0, block, bytes) : HeapAlloc(GetProcessHeap(), 0, bytes);
}
} // namespace

CBuffer::CBuffer() : CBaseBuffer(CrtRelease, CrtRealloc) {}
CHeapBuffer::CHeapBuffer() : CBaseBuffer(HeapRelease, HeapRealloc) {}

void CBaseBuffer::Free() {
    if (m_data) m_release(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
}

BOOL CBaseBuffer::Reserve(int32_t bytes) {
    if (m_capacity >= bytes) return TRUE;
    BYTE* block = static_cast<BYTE*>(m_realloc(m_data, static_cast<size_t>(bytes)));
    if (!block) return FALSE;
    m_data = block;
    m_capacity = bytes;
    return TRUE;
}

HRESULT CBaseBuffer::Append(const void* bytes, int32_t count) {
    if (count < 0 || (count > 0 && !bytes)) return E_INVALIDARG;
    const int32_t size = m_size + count;
    if (m_capacity < size) { // growth is exact, never doubled
        BYTE* block = static_cast<BYTE*>(m_realloc(m_data, static_cast<size_t>(size)));
        if (!block) return E_OUTOFMEMORY;
        m_data = block;
        m_capacity = size;
    }
    if (count) std::memcpy(m_data + m_size, bytes, static_cast<size_t>(count));
    m_size = size;
    return S_OK;
}

HRESULT CBaseBuffer::Swap(CBaseBuffer* other) {
    if (!other) return E_POINTER;
    std::swap(m_data, other->m_data);
    std::swap(m_size, other->m_size);
    std::swap(m_capacity, other->m_capacity);
    return S_OK;
}

HRESULT CBaseBuffer::FormatV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (!Reserve((n < 0 ? -1 : n) + 1)) return E_OUTOFMEMORY;
    int written = std::vsnprintf(reinterpret_cast<char*>(m_data), static_cast<size_t>(m_capacity), format, args);
    m_size = written < 0 ? 0 : (written < m_capacity ? written : m_capacity - 1) + 1;
    return S_OK;
}

HRESULT CBaseBuffer::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    HRESULT hr = FormatV(format, args);
    va_end(args);
    return hr;
}
