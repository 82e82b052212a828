// The property system: property keys, the property store and the interfaces of a shell property handler,
// in their real method order, and the system's memory property store.
#pragma once
#include "objidl.h"

typedef struct _tagpropertykey {
    GUID fmtid;
    DWORD pid;
} PROPERTYKEY;
typedef const PROPERTYKEY& REFPROPERTYKEY;

#define IsEqualPropertyKey(a, b) (((a).pid == (b).pid) && IsEqualIID((a).fmtid, (b).fmtid))
inline bool operator==(REFPROPERTYKEY a, REFPROPERTYKEY b) {
    return IsEqualPropertyKey(a, b);
}
inline bool operator!=(REFPROPERTYKEY a, REFPROPERTYKEY b) {
    return !IsEqualPropertyKey(a, b);
}

struct IPropertyStore : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* cProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD iProp, PROPERTYKEY* pkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT propvar) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;

protected:
    ~IPropertyStore() = default;
};

struct IPropertyStoreCapabilities : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE IsPropertyWritable(REFPROPERTYKEY key) = 0;

protected:
    ~IPropertyStoreCapabilities() = default;
};

struct IInitializeWithStream : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(IStream* pstream, DWORD grfMode) = 0;

protected:
    ~IInitializeWithStream() = default;
};

extern "C" {
// An empty, writable store in memory: values are kept as copies in the order they were first set; a key never
// set reads as VT_EMPTY.
HRESULT PSCreateMemoryPropertyStore(REFIID riid, void** ppv);
}
