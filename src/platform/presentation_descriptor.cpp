// A presentation descriptor: stream descriptors with a selection flag each. A clone shares the stream
// descriptors but has a selection and attributes of its own.
#include <mutex>
#include <vector>

#include "attributes.h"
#include "mfapi.h"

namespace {
class PresentationDescriptor final : public TAttributes<IMFPresentationDescriptor> {
    PLAT_REFCOUNT(PresentationDescriptor)
    struct Entry {
        PlatRef<IMFStreamDescriptor> sd;
        bool selected;
    };
    HRESULT Add(IMFStreamDescriptor* sd, bool selected) {
        if (!sd) return E_INVALIDARG;
        try {
            m_streams.push_back(Entry{PlatRef<IMFStreamDescriptor>(sd), selected});
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(PresentationDescriptor, IMFPresentationDescriptor),
                                      QITABENT(PresentationDescriptor, IMFAttributes),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetStreamDescriptorCount(DWORD* count) override {
        if (!count) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        *count = static_cast<DWORD>(m_streams.size());
        return S_OK;
    }
    HRESULT GetStreamDescriptorByIndex(DWORD index, BOOL* selected, IMFStreamDescriptor** sd) override {
        if (!selected || !sd) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (index >= m_streams.size()) return E_INVALIDARG;
        *selected = m_streams[index].selected;
        *sd = m_streams[index].sd.Get();
        (*sd)->AddRef();
        return S_OK;
    }
    HRESULT SelectStream(DWORD index) override { return SetSelected(index, true); }
    HRESULT DeselectStream(DWORD index) override { return SetSelected(index, false); }
    HRESULT Clone(IMFPresentationDescriptor** copy) override {
        if (!copy) return E_POINTER;
        *copy = nullptr;
        PresentationDescriptor* pd = new (std::nothrow) PresentationDescriptor;
        if (!pd) return E_OUTOFMEMORY;
        HRESULT hr = S_OK;
        {
            std::lock_guard<std::mutex> g(m_lock);
            for (auto& e : m_streams)
                if (SUCCEEDED(hr)) hr = pd->Add(e.sd.Get(), e.selected);
        }
        if (SUCCEEDED(hr)) hr = m_attrs.CopyAllItems(pd);
        if (FAILED(hr)) {
            pd->Release();
            return hr;
        }
        *copy = pd;
        return S_OK;
    }

private:
    virtual ~PresentationDescriptor() = default;
    HRESULT SetSelected(DWORD index, bool selected) {
        std::lock_guard<std::mutex> g(m_lock);
        if (index >= m_streams.size()) return E_INVALIDARG;
        m_streams[index].selected = selected;
        return S_OK;
    }
    std::mutex m_lock;
    std::vector<Entry> m_streams;
};
} // namespace

extern "C" HRESULT MFCreatePresentationDescriptor(DWORD count, IMFStreamDescriptor** sds,
                                                  IMFPresentationDescriptor** pd) {
    if (!pd || (count && !sds)) return E_POINTER;
    *pd = nullptr;
    PresentationDescriptor* p = new (std::nothrow) PresentationDescriptor;
    if (!p) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < count && SUCCEEDED(hr); ++i) hr = p->Add(sds[i], false);
    if (FAILED(hr)) {
        p->Release();
        return hr;
    }
    *pd = p;
    return S_OK;
}
