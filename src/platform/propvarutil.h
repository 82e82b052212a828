// Helpers that fill a PROPVARIANT, as propvarutil.h has them (the SDK's inline ones are inline here too).
#pragma once
#include "shlwapi.h"

extern "C" {
// A VT_VECTOR | VT_UI1 value holding a copy of the bytes.
HRESULT InitPropVariantFromBuffer(const void* pv, UINT cb, PROPVARIANT* ppropvar);
}

inline HRESULT InitPropVariantFromBoolean(BOOL fVal, PROPVARIANT* ppropvar) {
    ppropvar->vt = VT_BOOL;
    ppropvar->boolVal = fVal ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

inline HRESULT InitPropVariantFromUInt32(ULONG ulVal, PROPVARIANT* ppropvar) {
    ppropvar->vt = VT_UI4;
    ppropvar->ulVal = ulVal;
    return S_OK;
}

inline HRESULT InitPropVariantFromUInt64(ULONGLONG ullVal, PROPVARIANT* ppropvar) {
    ppropvar->vt = VT_UI8;
    ppropvar->uhVal.QuadPart = ullVal;
    return S_OK;
}

inline HRESULT InitPropVariantFromString(PCWSTR psz, PROPVARIANT* ppropvar) {
    HRESULT hr = SHStrDupW(psz, &ppropvar->pwszVal);
    if (SUCCEEDED(hr))
        ppropvar->vt = VT_LPWSTR;
    else
        PropVariantInit(ppropvar);
    return hr;
}
