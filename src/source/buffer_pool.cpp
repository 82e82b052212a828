// The buffer pool (buffer_pool.h) and its buffers.
#include "buffer_pool.h"

#include "base_object.h"
#include "support/alloc.h"

#include <cstdlib>

namespace {
// The class of a length: the smallest power of two that holds it, or -1 beyond the largest class.
int SizeClass(DWORD length) {
    int c = CBufferPool::kMinClass;
    while (c < CBufferPool::kClasses - 1 && (static_cast<uint64_t>(1) << c) < length) ++c;
    return (static_cast<uint64_t>(1) << c) < length ? -1 : c;
}

class CPooledBuffer final : private MediaFoundationSamples::BaseObject, public IMFMediaBuffer, public CNoThrowAlloc {
public:
    CPooledBuffer(CBufferPool* pool, BYTE* block, int sizeClass, DWORD size)
        : m_pool(pool), m_block(block), m_class(sizeClass), m_max(size) {
        m_pool->AddRef();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IMFMediaBuffer)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMFMediaBuffer*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        const long n = --m_refs;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP Lock(BYTE** buffer, DWORD* maxLength, DWORD* currentLength) override {
        if (!buffer) return E_POINTER;
        *buffer = m_block;
        if (maxLength) *maxLength = m_max;
        if (currentLength) *currentLength = m_current;
        return S_OK;
    }
    STDMETHODIMP Unlock() override { return S_OK; }
    STDMETHODIMP GetCurrentLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = m_current;
        return S_OK;
    }
    STDMETHODIMP SetCurrentLength(DWORD length) override {
        if (length > m_max) return E_INVALIDARG;
        m_current = length;
        return S_OK;
    }
    STDMETHODIMP GetMaxLength(DWORD* length) override {
        if (!length) return E_POINTER;
        *length = m_max;
        return S_OK;
    }

private:
    ~CPooledBuffer() override {
        m_pool->Return(m_block, m_class);
        m_pool->Release();
    }
    std::atomic<long> m_refs{1};
    CBufferPool* m_pool;
    BYTE* m_block;
    int m_class;
    DWORD m_max;
    std::atomic<DWORD> m_current{0};
};
} // namespace

CBufferPool* CBufferPool::Create() { return new CBufferPool; }

CBufferPool::~CBufferPool() {
    for (FreeList& list : m_free)
        for (int i = 0; i < list.count; ++i) std::free(list.blocks[i]);
}

void CBufferPool::Release() {
    if (--m_refs == 0) delete this;
}

HRESULT CBufferPool::Get(DWORD length, IMFMediaBuffer** buffer) {
    *buffer = nullptr;
    const int c = SizeClass(length);
    const DWORD size = c < 0 ? length : static_cast<DWORD>(1) << c;
    BYTE* block = nullptr;
    if (c >= 0) {
        std::lock_guard<std::mutex> g(m_lock);
        FreeList& list = m_free[c];
        if (list.count > 0) {
            block = list.blocks[--list.count];
            m_kept -= static_cast<size_t>(1) << c;
        }
    }
    if (!block) block = static_cast<BYTE*>(AllocBytes(size ? size : 1));
    if (!block) return E_OUTOFMEMORY;
    CPooledBuffer* b = new CPooledBuffer(this, block, c, size);
    if (!b) {
        Return(block, c);
        return E_OUTOFMEMORY;
    }
    *buffer = b;
    return S_OK;
}

void CBufferPool::Return(BYTE* block, int c) {
    if (c < 0) { // a large buffer: its packet's size, never kept
        std::free(block);
        return;
    }
    const size_t size = static_cast<size_t>(1) << c;
    {
        std::lock_guard<std::mutex> g(m_lock);
        FreeList& list = m_free[c];
        if (list.count < kKeptPerClass && m_kept + size <= kKeptBytes) {
            list.blocks[list.count++] = block;
            m_kept += size;
            return;
        }
    }
    std::free(block);
}

size_t CBufferPool::KeptBytes() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_kept;
}
