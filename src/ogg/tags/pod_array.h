// A growable array of plain records whose allocations never throw: every growth reports E_OUTOFMEMORY
// instead.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "platform/platform.h"
#include "support/alloc.h"

namespace tags {
template <class T> class CPodArray {
    static_assert(std::is_trivially_copyable_v<T>, "records are moved with realloc");

public:
    CPodArray() = default;
    CPodArray(const CPodArray&) = delete;
    CPodArray& operator=(const CPodArray&) = delete;
    ~CPodArray() { std::free(m_items); }

    size_t Count() const { return m_count; }
    T* Data() { return m_items; }
    const T* Data() const { return m_items; }
    T& operator[](size_t i) { return m_items[i]; }
    const T& operator[](size_t i) const { return m_items[i]; }

    // Room for `count` records in all (grown by doubling, so that appends cost little).
    HRESULT Reserve(size_t count) {
        if (count <= m_capacity) return S_OK;
        size_t capacity = m_capacity > SIZE_MAX / 2 ? SIZE_MAX : m_capacity * 2;
        if (capacity < count) capacity = count;
        if (capacity < 16) capacity = 16;
        if (capacity > SIZE_MAX / sizeof(T)) return E_OUTOFMEMORY;
        auto* grown = static_cast<T*>(ReallocBytes(m_items, capacity * sizeof(T)));
        if (!grown) return E_OUTOFMEMORY;
        m_items = grown;
        m_capacity = capacity;
        return S_OK;
    }
    HRESULT Append(const T& item) {
        if (m_count == SIZE_MAX) return E_OUTOFMEMORY;
        HRESULT hr = Reserve(m_count + 1);
        if (FAILED(hr)) return hr;
        m_items[m_count++] = item;
        return S_OK;
    }
    // The records written into reserved room after the last one become part of the array.
    void Grow(size_t added) { m_count += added; }
    void Truncate(size_t count) {
        if (count < m_count) m_count = count;
    }

private:
    T* m_items = nullptr;
    size_t m_count = 0, m_capacity = 0;
};
} // namespace tags
