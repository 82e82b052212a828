// A byte stream over a private copy of a block of memory.
#include <cstdlib>

#include "byte_stream_base.h"
#include "mfapi.h"

namespace {
class MemoryByteStream final : public ReadOnlyByteStream {
    PLAT_REFCOUNT(MemoryByteStream)
    MemoryByteStream(BYTE* data, QWORD size) : m_data(data), m_size(size) {}

protected:
    HRESULT ReadAt(QWORD position, BYTE* buffer, ULONG count, ULONG* read) override {
        QWORD left = position < m_size ? m_size - position : 0;
        *read = static_cast<ULONG>(count < left ? count : left);
        if (*read) std::memcpy(buffer, m_data + position, *read);
        return S_OK;
    }
    HRESULT LengthOf(QWORD* length) override {
        *length = m_size;
        return S_OK;
    }

private:
    ~MemoryByteStream() override { std::free(m_data); }
    BYTE* m_data;
    QWORD m_size;
};
} // namespace

extern "C" HRESULT MFCreateMemoryByteStream(const BYTE* data, QWORD size, IMFByteStream** stream) {
    if (!stream || (size && !data)) return E_POINTER;
    *stream = nullptr;
    if (size > SIZE_MAX) return E_OUTOFMEMORY;
    BYTE* copy = static_cast<BYTE*>(std::malloc(size ? static_cast<size_t>(size) : 1));
    if (!copy) return E_OUTOFMEMORY;
    if (size) std::memcpy(copy, data, static_cast<size_t>(size));
    HRESULT hr = PlatCreate<MemoryByteStream>(stream, copy, size);
    if (FAILED(hr)) std::free(copy);
    return hr;
}
