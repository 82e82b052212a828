#include <mutex>
#include <vector>

#include "attributes.h"
#include "mfapi.h"

namespace {
class Sample final : public TAttributes<IMFSample> {
    PLAT_REFCOUNT(Sample)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(Sample, IMFSample), QITABENT(Sample, IMFAttributes), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetSampleFlags(DWORD* flags) override {
        if (!flags) return E_POINTER;
        *flags = m_flags;
        return S_OK;
    }
    HRESULT SetSampleFlags(DWORD flags) override {
        m_flags = flags;
        return S_OK;
    }
    HRESULT GetSampleTime(LONGLONG* time) override { return GetTime(m_time, m_hasTime, time, MF_E_NO_SAMPLE_TIMESTAMP); }
    HRESULT SetSampleTime(LONGLONG time) override { return SetTime(m_time, m_hasTime, time); }
    HRESULT GetSampleDuration(LONGLONG* d) override { return GetTime(m_duration, m_hasDuration, d, MF_E_NO_SAMPLE_DURATION); }
    HRESULT SetSampleDuration(LONGLONG d) override { return SetTime(m_duration, m_hasDuration, d); }
    HRESULT GetBufferCount(DWORD* count) override {
        if (!count) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        *count = static_cast<DWORD>(m_buffers.size());
        return S_OK;
    }
    HRESULT GetBufferByIndex(DWORD index, IMFMediaBuffer** buffer) override {
        if (!buffer) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (index >= m_buffers.size()) return E_INVALIDARG;
        *buffer = m_buffers[index];
        (*buffer)->AddRef();
        return S_OK;
    }
    HRESULT ConvertToContiguousBuffer(IMFMediaBuffer** buffer) override;
    HRESULT AddBuffer(IMFMediaBuffer* buffer) override {
        if (!buffer) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        try {
            m_buffers.push_back(buffer);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        buffer->AddRef();
        return S_OK;
    }
    HRESULT RemoveBufferByIndex(DWORD index) override {
        std::lock_guard<std::mutex> g(m_lock);
        if (index >= m_buffers.size()) return E_INVALIDARG;
        m_buffers[index]->Release();
        m_buffers.erase(m_buffers.begin() + index);
        return S_OK;
    }
    HRESULT RemoveAllBuffers() override {
        std::lock_guard<std::mutex> g(m_lock);
        for (auto* b : m_buffers) b->Release();
        m_buffers.clear();
        return S_OK;
    }
    HRESULT GetTotalLength(DWORD* length) override {
        if (!length) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        DWORD total = 0;
        for (auto* b : m_buffers) {
            DWORD n = 0;
            b->GetCurrentLength(&n);
            total += n;
        }
        *length = total;
        return S_OK;
    }
    HRESULT CopyToBuffer(IMFMediaBuffer* buffer) override;

private:
    virtual ~Sample() { RemoveAllBuffers(); }
    HRESULT GetTime(LONGLONG v, bool has, LONGLONG* out, HRESULT missing) {
        if (!out) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (!has) return missing;
        *out = v;
        return S_OK;
    }
    HRESULT SetTime(LONGLONG& slot, bool& has, LONGLONG v) {
        std::lock_guard<std::mutex> g(m_lock);
        slot = v;
        has = true;
        return S_OK;
    }

    std::mutex m_lock;
    std::vector<IMFMediaBuffer*> m_buffers;
    std::atomic<DWORD> m_flags{0};
    LONGLONG m_time = 0, m_duration = 0;
    bool m_hasTime = false, m_hasDuration = false;
};

HRESULT Sample::CopyToBuffer(IMFMediaBuffer* dest) {
    if (!dest) return E_POINTER;
    DWORD total = 0, max = 0;
    GetTotalLength(&total);
    BYTE* out = nullptr;
    HRESULT hr = dest->Lock(&out, &max, nullptr);
    if (FAILED(hr)) return hr;
    if (max < total) {
        dest->Unlock();
        return MF_E_BUFFERTOOSMALL;
    }
    std::lock_guard<std::mutex> g(m_lock);
    DWORD at = 0;
    for (auto* b : m_buffers) {
        BYTE* in = nullptr;
        DWORD n = 0;
        if (SUCCEEDED(b->Lock(&in, nullptr, &n))) {
            if (n > total - at) n = total - at;
            std::memcpy(out + at, in, n);
            at += n;
            b->Unlock();
        }
    }
    dest->Unlock();
    return dest->SetCurrentLength(at);
}

HRESULT Sample::ConvertToContiguousBuffer(IMFMediaBuffer** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = nullptr;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_buffers.size() == 1) {
            *buffer = m_buffers[0];
            (*buffer)->AddRef();
            return S_OK;
        }
    }
    DWORD total = 0;
    GetTotalLength(&total);
    PlatRef<IMFMediaBuffer> joined;
    HRESULT hr = MFCreateMemoryBuffer(total, &joined);
    if (SUCCEEDED(hr)) hr = CopyToBuffer(joined.Get());
    if (SUCCEEDED(hr)) hr = RemoveAllBuffers();
    if (SUCCEEDED(hr)) hr = AddBuffer(joined.Get());
    if (SUCCEEDED(hr)) *buffer = joined.Detach();
    return hr;
}
} // namespace

extern "C" HRESULT MFCreateSample(IMFSample** sample) { return PlatCreate<Sample>(sample); }
