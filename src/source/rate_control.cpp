// Rate negotiation: forward rates 0 to 3 from a fixed set, never thinning.
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

HRESULT OGGSource::GetSlowestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) {
    if (thin) return MF_E_THINNING_UNSUPPORTED;
    if (direction == MFRATE_REVERSE) return MF_E_REVERSE_UNSUPPORTED;
    if (!rate) return E_POINTER;
    *rate = 0.0f;
    return S_OK;
}

HRESULT OGGSource::GetFastestRate(MFRATE_DIRECTION direction, BOOL thin, float* rate) {
    if (thin) return MF_E_THINNING_UNSUPPORTED;
    if (direction == MFRATE_REVERSE) return MF_E_REVERSE_UNSUPPORTED;
    if (!rate) return E_POINTER;
    *rate = 3.0f;
    return S_OK;
}

HRESULT OGGSource::IsRateSupported(BOOL thin, float rate, float*) {
    if (thin) return MF_E_THINNING_UNSUPPORTED;
    if (rate < 0.0f) return MF_E_REVERSE_UNSUPPORTED;
    return IsSupported(rate) ? S_OK : MF_E_UNSUPPORTED_RATE;
}

HRESULT OGGSource::SetRate(BOOL, float rate) {
    if (rate < 0.0f) return MF_E_REVERSE_UNSUPPORTED;
    if (!IsSupported(rate)) return MF_E_UNSUPPORTED_RATE;
    const double wide = rate;
    // A new rate is stored and moves no reader: the next run reads it. (Applying the positions here ran the
    // search on the host's thread under the seeking lock, against the operation thread's lock order, and
    // moved readers that a start executing at the same time was using.)
    if (wide != CurrentRate()) {
        Trace("\nSetRate(%f)", wide);
        StoreRate(wide);
    }
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = static_cast<float>(CurrentRate());
    return QueueEvent(MESourceRateChanged, GUID_NULL, S_OK, &value);
}

HRESULT OGGSource::GetRate(BOOL*, float* rate) {
    if (!rate) return E_POINTER;
    const double current = CurrentRate();
    *rate = current == 0.0 ? 1.0f : static_cast<float>(current);
    return S_OK;
}

HRESULT OGGSource::GetService(REFGUID service, REFIID riid, LPVOID* ppv) {
    if (!IsEqualGUID(service, MF_RATE_CONTROL_SERVICE)) return MF_E_UNSUPPORTED_SERVICE;
    return QueryInterface(riid, ppv);
}
