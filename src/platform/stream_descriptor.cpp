// A stream descriptor, which is also its own media type handler.
#include <mutex>
#include <vector>

#include "attributes.h"
#include "mfapi.h"

namespace {
class StreamDescriptor final : public TAttributes<IMFStreamDescriptor>, public IMFMediaTypeHandler {
    PLAT_REFCOUNT(StreamDescriptor)
    explicit StreamDescriptor(DWORD id) : m_id(id) {}
    HRESULT Init(DWORD count, IMFMediaType** types) {
        try {
            for (DWORD i = 0; i < count; ++i) {
                if (!types[i]) return E_INVALIDARG;
                m_types.emplace_back(types[i]);
            }
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(StreamDescriptor, IMFStreamDescriptor),
                                      QITABENT(StreamDescriptor, IMFAttributes),
                                      QITABENT(StreamDescriptor, IMFMediaTypeHandler),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetStreamIdentifier(DWORD* id) override {
        if (!id) return E_POINTER;
        *id = m_id;
        return S_OK;
    }
    HRESULT GetMediaTypeHandler(IMFMediaTypeHandler** handler) override {
        if (!handler) return E_POINTER;
        *handler = this;
        AddRef();
        return S_OK;
    }

    HRESULT IsMediaTypeSupported(IMFMediaType* type, IMFMediaType** closest) override {
        if (!type) return E_POINTER;
        if (closest) *closest = nullptr;
        std::lock_guard<std::mutex> g(m_lock);
        for (auto& t : m_types) {
            DWORD flags = 0;
            t->IsEqual(type, &flags);
            if ((flags & 0x3) == 0x3) return S_OK; // same major type and subtype
        }
        if (closest && !m_types.empty()) {
            *closest = m_types[0].Get();
            (*closest)->AddRef();
        }
        return MF_E_INVALIDMEDIATYPE;
    }
    HRESULT GetMediaTypeCount(DWORD* count) override {
        if (!count) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        *count = static_cast<DWORD>(m_types.size());
        return S_OK;
    }
    HRESULT GetMediaTypeByIndex(DWORD index, IMFMediaType** type) override {
        if (!type) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (index >= m_types.size()) return MF_E_NO_MORE_TYPES;
        *type = m_types[index].Get();
        (*type)->AddRef();
        return S_OK;
    }
    HRESULT SetCurrentMediaType(IMFMediaType* type) override {
        if (!type) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        m_current.Reset(type);
        return S_OK;
    }
    HRESULT GetCurrentMediaType(IMFMediaType** type) override {
        if (!type) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_current) return MF_E_NOT_INITIALIZED;
        *type = m_current.Get();
        (*type)->AddRef();
        return S_OK;
    }
    HRESULT GetMajorType(GUID* major) override {
        if (!major) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (m_current) return m_current->GetMajorType(major);
        if (!m_types.empty()) return m_types[0]->GetMajorType(major);
        return MF_E_ATTRIBUTENOTFOUND;
    }

private:
    virtual ~StreamDescriptor() = default;
    DWORD m_id;
    std::mutex m_lock;
    std::vector<PlatRef<IMFMediaType>> m_types;
    PlatRef<IMFMediaType> m_current;
};
} // namespace

extern "C" HRESULT MFCreateStreamDescriptor(DWORD id, DWORD count, IMFMediaType** types,
                                            IMFStreamDescriptor** sd) {
    if (!sd || (count && !types)) return E_POINTER;
    *sd = nullptr;
    StreamDescriptor* d = new (std::nothrow) StreamDescriptor(id);
    if (!d) return E_OUTOFMEMORY;
    HRESULT hr = d->Init(count, types);
    if (FAILED(hr)) {
        d->Release();
        return hr;
    }
    *sd = d;
    return S_OK;
}
