// Rate negotiation: forward rates 0 to 3 from a fixed set, never thinning; bytes that cannot be sought in play at 1
// only (scrubbing and fast play both need seeks).
#include <cstdio>

#include "ogg_source.h"
#include "support/trace.h"

namespace {
bool IsSupported(float rate) {
    for (float r : {0.0f, 1.0f, 2.0f, 3.0f, 0.5f, 0.25f})
        if (rate == r) return true;
    return false;
}
} // namespace

// Every rate and service method answers MF_E_SHUTDOWN after Shutdown, as the source's other methods do.
STDMETHODIMP OGGSource::GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) {
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (thin) return MF_E_THINNING_UNSUPPORTED;
    if (direction == MFRATE_REVERSE) return MF_E_REVERSE_UNSUPPORTED;
    if (!rate) return E_POINTER;
    *rate = Seekable() ? 0.0f : 1.0f;
    return S_OK;
}

STDMETHODIMP OGGSource::GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) {
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (thin) return MF_E_THINNING_UNSUPPORTED;
    if (direction == MFRATE_REVERSE) return MF_E_REVERSE_UNSUPPORTED;
    if (!rate) return E_POINTER;
    *rate = Seekable() ? 3.0f : 1.0f;
    return S_OK;
}

STDMETHODIMP OGGSource::IsRateSupported(BOOL thin, float rate, float*) {
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (thin) return MF_E_THINNING_UNSUPPORTED;
    if (rate < 0.0f) return MF_E_REVERSE_UNSUPPORTED;
    return IsSupported(rate) && (rate == 1.0f || Seekable()) ? S_OK : MF_E_UNSUPPORTED_RATE;
}

// The rate is what GetRate answers and what MESourceRateChanged carries; sample times stay on the presentation's
// timeline at every rate (the presentation clock runs at the rate, and sinks present each sample at its time).
STDMETHODIMP OGGSource::SetRate(BOOL, float rate) {
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (rate < 0.0f) return MF_E_REVERSE_UNSUPPORTED;
    if (!IsSupported(rate) || (rate != 1.0f && !Seekable())) return MF_E_UNSUPPORTED_RATE;
    if (rate != m_rate.exchange(rate)) Trace("\nSetRate(%f)", static_cast<double>(rate));
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = rate;
    return QueueEvent(MESourceRateChanged, GUID_NULL, S_OK, &value);
}

STDMETHODIMP OGGSource::GetRate(BOOL*, float* rate) {
    if (!rate) return E_POINTER;
    if (ShutDown()) return MF_E_SHUTDOWN;
    const float current = m_rate.load();
    *rate = current == 0.0f ? 1.0f : current;
    return S_OK;
}

STDMETHODIMP OGGSource::GetService(REFGUID service, REFIID riid, LPVOID* ppv) {
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (IsEqualGUID(service, MF_PROPERTY_HANDLER_SERVICE) ||
        IsEqualGUID(service, MF_METADATA_PROVIDER_SERVICE))
        return TagService(service, riid, ppv);
    if (!IsEqualGUID(service, MF_RATE_CONTROL_SERVICE)) return MF_E_UNSUPPORTED_SERVICE;
    return QueryInterface(riid, ppv);
}
