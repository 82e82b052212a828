#include "attributes.h"
#include "mfapi.h"

namespace {
class MediaEvent final : public TAttributes<IMFMediaEvent> {
    PLAT_REFCOUNT(MediaEvent)
    MediaEvent(MediaEventType type, REFGUID extended, HRESULT status)
        : m_type(type), m_extended(extended), m_status(status) {
        PropVariantInit(&m_value);
    }
    HRESULT Init(const PROPVARIANT* value) { return value ? PropVariantCopy(&m_value, value) : S_OK; }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(MediaEvent, IMFMediaEvent), QITABENT(MediaEvent, IMFAttributes),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetType(MediaEventType* type) override {
        if (!type) return E_POINTER;
        *type = m_type;
        return S_OK;
    }
    HRESULT GetExtendedType(GUID* type) override {
        if (!type) return E_POINTER;
        *type = m_extended;
        return S_OK;
    }
    HRESULT GetStatus(HRESULT* status) override {
        if (!status) return E_POINTER;
        *status = m_status;
        return S_OK;
    }
    HRESULT GetValue(PROPVARIANT* value) override {
        if (!value) return E_POINTER;
        return PropVariantCopy(value, &m_value);
    }

private:
    virtual ~MediaEvent() { PropVariantClear(&m_value); }
    MediaEventType m_type;
    GUID m_extended;
    HRESULT m_status;
    PROPVARIANT m_value;
};
} // namespace

extern "C" HRESULT MFCreateMediaEvent(MediaEventType type, REFGUID extended, HRESULT status,
                                      const PROPVARIANT* value, IMFMediaEvent** event) {
    if (!event) return E_POINTER;
    *event = nullptr;
    MediaEvent* e = PlatSystemAllocationRefused() ? nullptr : new (std::nothrow) MediaEvent(type, extended, status);
    if (!e) return E_OUTOFMEMORY;
    HRESULT hr = e->Init(value);
    if (FAILED(hr)) {
        e->Release();
        return hr;
    }
    *event = e;
    return S_OK;
}
