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

extern "C" HRESULT CoInitializeEx(void*, DWORD) { return S_OK; }

extern "C" void CoUninitialize() {}
