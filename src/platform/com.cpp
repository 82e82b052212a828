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

extern "C" void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb ? cb : 1); }
extern "C" void* CoTaskMemRealloc(void* pv, size_t cb) { return std::realloc(pv, cb ? cb : 1); }
extern "C" void CoTaskMemFree(void* pv) { std::free(pv); }

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

#include "dshow.h"

extern "C" int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    long long num = static_cast<long long>(a) * b;
    long long den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    // Round half away from zero.
    long long q = num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
    if (q > INT32_MAX || q < INT32_MIN) return -1;
    return static_cast<int>(q);
}
