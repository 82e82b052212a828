#include <cstdlib>

#include "com_impl.h"
#include "mfapi.h"

namespace {
class MemoryBuffer final : public IMFMediaBuffer {
    PLAT_REFCOUNT(MemoryBuffer)
    explicit MemoryBuffer(BYTE* data, DWORD max) : m_data(data), m_max(max) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(MemoryBuffer, IMFMediaBuffer), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT Lock(BYTE** buffer, DWORD* maxLength, DWORD* currentLength) override {
        if (!buffer) return E_POINTER;
        *buffer = m_data;
        if (maxLength) *maxLength = m_max;
        if (currentLength) *currentLength = m_current;
        ++m_locks;
        return S_OK;
    }
    HRESULT Unlock() override {
        if (m_locks.load() == 0) return E_FAIL;
        --m_locks;
        return S_OK;
    }
    HRESULT GetCurrentLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = m_current;
        return S_OK;
    }
    HRESULT SetCurrentLength(DWORD length) override {
        if (length > m_max) return E_INVALIDARG;
        m_current = length;
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = m_max;
        return S_OK;
    }

private:
    virtual ~MemoryBuffer() { std::free(m_data); }
    BYTE* m_data;
    DWORD m_max;
    std::atomic<DWORD> m_current{0};
    std::atomic<int> m_locks{0};
};
} // namespace

extern "C" HRESULT MFCreateMemoryBuffer(DWORD maxLength, IMFMediaBuffer** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = nullptr;
    // Pages of a large block cost nothing until they are written.
    BYTE* data = PlatSystemAllocationRefused() ? nullptr : static_cast<BYTE*>(std::malloc(maxLength ? maxLength : 1));
    if (!data) return E_OUTOFMEMORY;
    HRESULT hr = PlatCreate<MemoryBuffer>(buffer, data, maxLength);
    if (FAILED(hr)) std::free(data);
    return hr;
}
