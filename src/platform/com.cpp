#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "com.h"

extern "C" HRESULT QISearch(void* that, const QITAB* table, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!that || !table || !table->piid) return E_NOINTERFACE;
    const QITAB* hit = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        hit = table; // IUnknown answers with the first entry
    } else {
        for (const QITAB* e = table; e->piid; ++e) {
            if (IsEqualIID(riid, *e->piid)) {
                hit = e;
                break;
            }
        }
    }
    if (!hit) return E_NOINTERFACE;
    auto* unk = reinterpret_cast<IUnknown*>(static_cast<char*>(that) + hit->dwOffset);
    unk->AddRef();
    *ppv = unk;
    return S_OK;
}

extern "C" int StringFromGUID2(REFGUID g, LPOLESTR psz, int cchMax) {
    if (!psz || cchMax < 39) return 0;
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    for (int i = 0; i < 39; ++i) psz[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    return 39;
}

extern "C" HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* ppsz) {
    if (!ppsz) return E_INVALIDARG;
    *ppsz = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(WCHAR)));
    if (!*ppsz) return E_OUTOFMEMORY;
    StringFromGUID2(clsid, *ppsz, 39);
    return S_OK;
}

namespace {
template <class T> T* Duplicate(const T* src, size_t count) {
    auto* p = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
    if (p && count) std::memcpy(p, src, count * sizeof(T));
    return p;
}
} // namespace

extern "C" HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* src) {
    if (!dest || !src) return E_POINTER;
    PROPVARIANT copy = *src;
    switch (src->vt) {
    case VT_LPWSTR:
        if (src->pwszVal && !(copy.pwszVal = Duplicate(src->pwszVal, std::wcslen(src->pwszVal) + 1)))
            return E_OUTOFMEMORY;
        break;
    case VT_LPSTR:
        if (src->pszVal && !(copy.pszVal = Duplicate(src->pszVal, std::strlen(src->pszVal) + 1)))
            return E_OUTOFMEMORY;
        break;
    case VT_CLSID:
        if (src->puuid && !(copy.puuid = Duplicate(src->puuid, 1))) return E_OUTOFMEMORY;
        break;
    case VT_VECTOR | VT_UI1:
        if (src->caub.cElems && !(copy.caub.pElems = Duplicate(src->caub.pElems, src->caub.cElems)))
            return E_OUTOFMEMORY;
        break;
    case VT_UNKNOWN:
        if (src->punkVal) src->punkVal->AddRef();
        break;
    default:
        break;
    }
    *dest = copy;
    return S_OK;
}

extern "C" HRESULT PropVariantClear(PROPVARIANT* pv) {
    if (!pv) return S_OK;
    switch (pv->vt) {
    case VT_LPWSTR: CoTaskMemFree(pv->pwszVal); break;
    case VT_LPSTR: CoTaskMemFree(pv->pszVal); break;
    case VT_CLSID: CoTaskMemFree(pv->puuid); break;
    case VT_VECTOR | VT_UI1: CoTaskMemFree(pv->caub.pElems); break;
    case VT_UNKNOWN:
        if (pv->punkVal) pv->punkVal->Release();
        break;
    default: break;
    }
    PropVariantInit(pv);
    return S_OK;
}
