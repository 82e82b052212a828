// The shell's memory stream: a growable block of its own, read and written at any position.
#include <cstdlib>
#include <cstring>

#include "shlwapi.h"
#include "stream_base.h"

namespace {
// The stream keeps to 32-bit sizes, as the system's memory stream does.
constexpr ULONGLONG kMaxMemStream = 0xFFFFFFFFull;

class MemStream final : public StreamBase {
    PLAT_REFCOUNT(MemStream)
    MemStream() : StreamBase(STGM_READWRITE) {}
    HRESULT Init(const BYTE* data, UINT size) {
        if (!data || !size) return S_OK;
        HRESULT hr = Reserve(size);
        if (FAILED(hr)) return hr;
        std::memcpy(m_data, data, size);
        m_size = size;
        return S_OK;
    }

protected:
    HRESULT ReadAt(ULONGLONG position, void* pv, ULONG cb, ULONG* read) override {
        const ULONGLONG left = position < m_size ? m_size - position : 0;
        *read = static_cast<ULONG>(cb < left ? cb : left);
        if (*read) std::memcpy(pv, m_data + position, *read);
        return S_OK;
    }
    HRESULT WriteAt(ULONGLONG position, const void* pv, ULONG cb) override {
        if (position + cb > kMaxMemStream) return STG_E_MEDIUMFULL;
        if (position + cb > m_size) {
            HRESULT hr = Resize(position + cb);
            if (FAILED(hr)) return hr;
        }
        std::memcpy(m_data + position, pv, cb);
        return S_OK;
    }
    HRESULT SizeOf(ULONGLONG* size) override {
        *size = m_size;
        return S_OK;
    }
    HRESULT Resize(ULONGLONG size) override {
        if (size > kMaxMemStream) return STG_E_MEDIUMFULL;
        HRESULT hr = Reserve(static_cast<size_t>(size));
        if (FAILED(hr)) return hr;
        if (size > m_size) std::memset(m_data + m_size, 0, static_cast<size_t>(size - m_size));
        m_size = static_cast<size_t>(size);
        return S_OK;
    }
    HRESULT Describe(STATSTG*, bool) override { return S_OK; } // no name, no times

private:
    ~MemStream() override { std::free(m_data); }
    // Room for `size` bytes, grown by half again at least so that small writes do not copy every time.
    HRESULT Reserve(size_t size) {
        if (size <= m_capacity) return S_OK;
        size_t capacity = m_capacity + m_capacity / 2;
        if (capacity < size) capacity = size;
        if (capacity > kMaxMemStream) capacity = static_cast<size_t>(kMaxMemStream);
        auto* grown =
            static_cast<BYTE*>(PlatSystemAllocationRefused() ? nullptr : std::realloc(m_data, capacity));
        if (!grown) return E_OUTOFMEMORY;
        m_data = grown;
        m_capacity = capacity;
        return S_OK;
    }
    BYTE* m_data = nullptr;
    size_t m_size = 0, m_capacity = 0;
};
} // namespace

extern "C" IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit) {
    MemStream* stream = nullptr;
    if (FAILED(PlatCreate<MemStream>(&stream))) return nullptr;
    if (FAILED(stream->Init(pInit, cbInit))) {
        stream->Release();
        return nullptr;
    }
    return stream;
}
