// COM basics: IUnknown, the class factory, table-driven QueryInterface, the task allocator,
// GUID text, interlocked operations and PROPVARIANT.
#pragma once
#include <atomic>

#include "guids.h"

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// One entry of a QueryInterface table: the interface and the offset of its table in the object.
// The table ends with an entry whose piid is null.
struct QITAB {
    const IID* piid;
    DWORD dwOffset;
};

// The offset of interface Ifc inside class Cls.
#define QITABENT(Cls, Ifc)                                                                                  \
    { &IID_##Ifc, PlatInterfaceOffset<Cls, Ifc>() }

template <class Cls, class Ifc> DWORD PlatInterfaceOffset() {
    // A never-constructed block the size of the class: the conversion only computes an address in it.
    alignas(Cls) static char probe[sizeof(Cls)];
    Cls* obj = reinterpret_cast<Cls*>(probe);
    return static_cast<DWORD>(reinterpret_cast<char*>(static_cast<Ifc*>(obj)) - probe);
}

extern "C" {
HRESULT QISearch(void* that, const QITAB* table, REFIID riid, void** ppv);

void* CoTaskMemAlloc(size_t cb);
void* CoTaskMemRealloc(void* pv, size_t cb);
void CoTaskMemFree(void* pv);

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and a terminator; returns the characters written
// including the terminator, or 0 when cchMax is below 39.
int StringFromGUID2(REFGUID guid, LPOLESTR psz, int cchMax);
// The same text in a block from CoTaskMemAlloc.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* ppsz);
// An object of an in-process class registered under HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32: its module
// loaded (and kept, as the source resolver keeps the modules it loads), its class factory asked. Only
// CLSCTX_INPROC_SERVER is served; an unregistered class is REGDB_E_CLASSNOTREG.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);
// The stand-in's COM needs no apartment: these only answer as the system's do for a first and a last call.
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
void CoUninitialize();
}
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD COINIT_MULTITHREADED = 0x0;

inline LONG InterlockedIncrement(volatile LONG* p) {
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(volatile LONG* p) {
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(volatile LONG* p, LONG v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline void* InterlockedExchangePointer(void* volatile* p, void* v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(volatile LONG* p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// PROPVARIANT: the tagged value of attributes, events, start positions and properties.
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_FILETIME = 64,
    VT_BLOB = 65,
    VT_STREAM = 66,
    VT_CLSID = 72,
    VT_VECTOR = 0x1000,
};

struct IStream;

struct CAUB {
    ULONG cElems;
    UCHAR* pElems;
};

struct CALPWSTR {
    ULONG cElems;
    LPWSTR* pElems;
};

struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        CHAR cVal;
        UCHAR bVal;
        SHORT iVal;
        USHORT uiVal;
        LONG lVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        LARGE_INTEGER hVal;
        ULARGE_INTEGER uhVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        FILETIME filetime;
        CLSID* puuid;
        BLOB blob;
        LPSTR pszVal;
        LPWSTR pwszVal;
        IUnknown* punkVal;
        IStream* pStream;
        CAUB caub;
        CALPWSTR calpwstr;
    };
};
typedef const PROPVARIANT& REFPROPVARIANT;

inline void PropVariantInit(PROPVARIANT* pv) { std::memset(pv, 0, sizeof(*pv)); }

extern "C" {
// Deep copy: strings (and vectors of them), GUIDs, blobs and byte vectors are duplicated, interfaces and
// streams get a reference. Other kinds are copied as they are.
HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* src);
// Frees what the value owns and leaves it VT_EMPTY.
HRESULT PropVariantClear(PROPVARIANT* pv);
}
