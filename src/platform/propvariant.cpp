// PROPVARIANT copies and clearing for every kind the system's values take, and the helpers that fill one.
#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "propvarutil.h"

namespace {
template <class T> T* Duplicate(const T* src, size_t count) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    auto* p = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
    if (p && count) std::memcpy(p, src, count * sizeof(T));
    return p;
}

void FreeStrings(LPWSTR* strings, ULONG count) {
    if (!strings) return;
    for (ULONG i = 0; i < count; ++i)
        CoTaskMemFree(strings[i]);
    CoTaskMemFree(strings);
}

// Each string copied; a null string stays null.
HRESULT CopyStringVector(const CALPWSTR& src, CALPWSTR* dest) {
    dest->cElems = 0;
    dest->pElems = nullptr;
    if (!src.cElems) return S_OK;
    if (!src.pElems) return E_INVALIDARG;
    if (uint64_t{src.cElems} * sizeof(LPWSTR) > SIZE_MAX) return E_OUTOFMEMORY;  // only reachable where size_t is 32 bits
    auto* copy = static_cast<LPWSTR*>(CoTaskMemAlloc(src.cElems * sizeof(LPWSTR)));
    if (!copy) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < src.cElems; ++i) {
        copy[i] = nullptr;
        if (src.pElems[i] && !(copy[i] = Duplicate(src.pElems[i], std::wcslen(src.pElems[i]) + 1))) {
            FreeStrings(copy, i);
            return E_OUTOFMEMORY;
        }
    }
    dest->cElems = src.cElems;
    dest->pElems = copy;
    return S_OK;
}

HRESULT CopyOwned(const PROPVARIANT& src, PROPVARIANT* copy) {
    switch (src.vt) {
    case VT_LPWSTR:
        if (src.pwszVal && !(copy->pwszVal = Duplicate(src.pwszVal, std::wcslen(src.pwszVal) + 1)))
            return E_OUTOFMEMORY;
        return S_OK;
    case VT_LPSTR:
        if (src.pszVal && !(copy->pszVal = Duplicate(src.pszVal, std::strlen(src.pszVal) + 1)))
            return E_OUTOFMEMORY;
        return S_OK;
    case VT_CLSID:
        if (src.puuid && !(copy->puuid = Duplicate(src.puuid, 1))) return E_OUTOFMEMORY;
        return S_OK;
    case VT_VECTOR | VT_UI1:
        if (src.caub.cElems && !src.caub.pElems) return E_INVALIDARG;
        if (src.caub.cElems && !(copy->caub.pElems = Duplicate(src.caub.pElems, src.caub.cElems)))
            return E_OUTOFMEMORY;
        return S_OK;
    case VT_BLOB:
        if (src.blob.cbSize && !src.blob.pBlobData) return E_INVALIDARG;
        copy->blob.pBlobData = nullptr;
        if (src.blob.cbSize && !(copy->blob.pBlobData = Duplicate(src.blob.pBlobData, src.blob.cbSize)))
            return E_OUTOFMEMORY;
        return S_OK;
    case VT_VECTOR | VT_LPWSTR:
        return CopyStringVector(src.calpwstr, &copy->calpwstr);
    case VT_UNKNOWN:
        if (src.punkVal) src.punkVal->AddRef();
        return S_OK;
    case VT_STREAM:
        if (src.pStream) src.pStream->AddRef();
        return S_OK;
    default:
        return S_OK;
    }
}
} // namespace

extern "C" HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* src) {
    if (!dest || !src) return E_POINTER;
    PROPVARIANT copy = *src;
    HRESULT hr = CopyOwned(*src, &copy);
    if (FAILED(hr)) return hr;
    *dest = copy;
    return S_OK;
}

extern "C" HRESULT PropVariantClear(PROPVARIANT* pv) {
    if (!pv) return S_OK;
    switch (pv->vt) {
    case VT_LPWSTR:
        CoTaskMemFree(pv->pwszVal);
        break;
    case VT_LPSTR:
        CoTaskMemFree(pv->pszVal);
        break;
    case VT_CLSID:
        CoTaskMemFree(pv->puuid);
        break;
    case VT_VECTOR | VT_UI1:
        CoTaskMemFree(pv->caub.pElems);
        break;
    case VT_BLOB:
        CoTaskMemFree(pv->blob.pBlobData);
        break;
    case VT_VECTOR | VT_LPWSTR:
        FreeStrings(pv->calpwstr.pElems, pv->calpwstr.cElems);
        break;
    case VT_UNKNOWN:
        if (pv->punkVal) pv->punkVal->Release();
        break;
    case VT_STREAM:
        if (pv->pStream) pv->pStream->Release();
        break;
    default:
        break;
    }
    PropVariantInit(pv);
    return S_OK;
}

extern "C" HRESULT InitPropVariantFromBuffer(const void* pv, UINT cb, PROPVARIANT* ppropvar) {
    if (!ppropvar || (cb && !pv)) return E_INVALIDARG;
    PropVariantInit(ppropvar);
    auto* copy = static_cast<UCHAR*>(CoTaskMemAlloc(cb));
    if (!copy) return E_OUTOFMEMORY;
    if (cb) std::memcpy(copy, pv, cb);
    ppropvar->vt = VT_VECTOR | VT_UI1;
    ppropvar->caub.cElems = cb;
    ppropvar->caub.pElems = copy;
    return S_OK;
}

extern "C" HRESULT SHStrDupW(LPCWSTR psz, LPWSTR* ppwsz) {
    if (!ppwsz) return E_INVALIDARG;
    *ppwsz = nullptr;
    if (!psz) return E_INVALIDARG;
    *ppwsz = Duplicate(psz, std::wcslen(psz) + 1);
    return *ppwsz ? S_OK : E_OUTOFMEMORY;
}
