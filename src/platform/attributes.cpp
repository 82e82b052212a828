#include "attributes.h"

#include <cwchar>

#include "mfapi.h"

namespace {
bool SameValue(const PROPVARIANT& a, const PROPVARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
    case VT_UI4: return a.ulVal == b.ulVal;
    case VT_UI8: return a.uhVal.QuadPart == b.uhVal.QuadPart;
    case VT_R8: return a.dblVal == b.dblVal;
    case VT_CLSID: return IsEqualGUID(*a.puuid, *b.puuid);
    case VT_LPWSTR: return std::wcscmp(a.pwszVal, b.pwszVal) == 0;
    case VT_UNKNOWN: return a.punkVal == b.punkVal;
    case VT_VECTOR | VT_UI1:
        return a.caub.cElems == b.caub.cElems &&
               (a.caub.cElems == 0 || std::memcmp(a.caub.pElems, b.caub.pElems, a.caub.cElems) == 0);
    default: return false;
    }
}

bool IsStorableType(VARTYPE vt) {
    switch (vt) {
    case VT_UI4:
    case VT_UI8:
    case VT_R8:
    case VT_CLSID:
    case VT_LPWSTR:
    case VT_UNKNOWN:
    case VT_VECTOR | VT_UI1: return true;
    default: return false;
    }
}

// True when every item of a is in b with the same value.
bool Contains(IMFAttributes* a, IMFAttributes* b, bool intersectionOnly) {
    UINT32 n = 0;
    a->GetCount(&n);
    for (UINT32 i = 0; i < n; ++i) {
        GUID key;
        PROPVARIANT va, vb;
        PropVariantInit(&va);
        PropVariantInit(&vb);
        if (FAILED(a->GetItemByIndex(i, &key, &va))) return false;
        bool found = SUCCEEDED(b->GetItem(key, &vb));
        bool ok = found ? SameValue(va, vb) : intersectionOnly;
        PropVariantClear(&va);
        PropVariantClear(&vb);
        if (!ok) return false;
    }
    return true;
}
} // namespace

AttributeStore::~AttributeStore() { DeleteAllItems(); }

AttributeStore::Item* AttributeStore::Find(REFGUID key) {
    for (auto& item : m_items)
        if (IsEqualGUID(item.key, key)) return &item;
    return nullptr;
}

HRESULT AttributeStore::GetItem(REFGUID key, PROPVARIANT* value) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    Item* item = Find(key);
    if (!item) return MF_E_ATTRIBUTENOTFOUND;
    return value ? PropVariantCopy(value, &item->value) : S_OK;
}

HRESULT AttributeStore::GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) {
    if (!type) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    Item* item = Find(key);
    if (!item) return MF_E_ATTRIBUTENOTFOUND;
    *type = static_cast<MF_ATTRIBUTE_TYPE>(item->value.vt);
    return S_OK;
}

HRESULT AttributeStore::CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) {
    if (!result) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    Item* item = Find(key);
    *result = item && SameValue(item->value, value);
    return S_OK;
}

HRESULT AttributeStore::Compare(IMFAttributes* self, IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type,
                                BOOL* result) {
    if (!theirs || !result) return E_POINTER;
    UINT32 ours = 0, others = 0;
    GetCount(&ours);
    theirs->GetCount(&others);
    switch (type) {
    case MF_ATTRIBUTES_MATCH_OUR_ITEMS: *result = Contains(self, theirs, false); break;
    case MF_ATTRIBUTES_MATCH_THEIR_ITEMS: *result = Contains(theirs, self, false); break;
    case MF_ATTRIBUTES_MATCH_ALL_ITEMS: *result = ours == others && Contains(self, theirs, false); break;
    case MF_ATTRIBUTES_MATCH_INTERSECTION: *result = Contains(self, theirs, true); break;
    case MF_ATTRIBUTES_MATCH_SMALLER:
        *result = ours <= others ? Contains(self, theirs, false) : Contains(theirs, self, false);
        break;
    default: return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT AttributeStore::GetTyped(REFGUID key, VARTYPE vt, PROPVARIANT* out) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    Item* item = Find(key);
    if (!item) return MF_E_ATTRIBUTENOTFOUND;
    if (item->value.vt != vt) return MF_E_INVALIDTYPE;
    *out = item->value; // shallow: callers copy what they need while the lock is held
    return S_OK;
}

HRESULT AttributeStore::GetUINT32(REFGUID key, UINT32* value) {
    if (!value) return E_POINTER;
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_UI4, &v);
    if (SUCCEEDED(hr)) *value = v.ulVal;
    return hr;
}

HRESULT AttributeStore::GetUINT64(REFGUID key, UINT64* value) {
    if (!value) return E_POINTER;
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_UI8, &v);
    if (SUCCEEDED(hr)) *value = v.uhVal.QuadPart;
    return hr;
}

HRESULT AttributeStore::GetDouble(REFGUID key, double* value) {
    if (!value) return E_POINTER;
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_R8, &v);
    if (SUCCEEDED(hr)) *value = v.dblVal;
    return hr;
}

HRESULT AttributeStore::GetGUID(REFGUID key, GUID* value) {
    if (!value) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_CLSID, &v);
    if (SUCCEEDED(hr)) *value = *v.puuid;
    return hr;
}

HRESULT AttributeStore::GetStringLength(REFGUID key, UINT32* length) {
    if (!length) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_LPWSTR, &v);
    if (SUCCEEDED(hr)) *length = static_cast<UINT32>(std::wcslen(v.pwszVal));
    return hr;
}

HRESULT AttributeStore::GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) {
    if (!value) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_LPWSTR, &v);
    if (FAILED(hr)) return hr;
    size_t n = std::wcslen(v.pwszVal);
    if (length) *length = static_cast<UINT32>(n);
    if (n + 1 > size) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(value, v.pwszVal, (n + 1) * sizeof(WCHAR));
    return S_OK;
}

HRESULT AttributeStore::GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) {
    if (!value || !length) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_LPWSTR, &v);
    if (FAILED(hr)) return hr;
    size_t n = std::wcslen(v.pwszVal);
    *value = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
    if (!*value) return E_OUTOFMEMORY;
    std::memcpy(*value, v.pwszVal, (n + 1) * sizeof(WCHAR));
    *length = static_cast<UINT32>(n);
    return S_OK;
}

HRESULT AttributeStore::GetBlobSize(REFGUID key, UINT32* size) {
    if (!size) return E_POINTER;
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_VECTOR | VT_UI1, &v);
    if (SUCCEEDED(hr)) *size = v.caub.cElems;
    return hr;
}

HRESULT AttributeStore::GetBlob(REFGUID key, UINT8* buf, UINT32 bufsize, UINT32* blobsize) {
    if (!buf) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_VECTOR | VT_UI1, &v);
    if (FAILED(hr)) return hr;
    if (blobsize) *blobsize = v.caub.cElems;
    if (v.caub.cElems > bufsize) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    if (v.caub.cElems) std::memcpy(buf, v.caub.pElems, v.caub.cElems);
    return S_OK;
}

HRESULT AttributeStore::GetAllocatedBlob(REFGUID key, UINT8** buf, UINT32* size) {
    if (!buf || !size) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_VECTOR | VT_UI1, &v);
    if (FAILED(hr)) return hr;
    *buf = static_cast<UINT8*>(CoTaskMemAlloc(v.caub.cElems));
    if (!*buf) return E_OUTOFMEMORY;
    if (v.caub.cElems) std::memcpy(*buf, v.caub.pElems, v.caub.cElems);
    *size = v.caub.cElems;
    return S_OK;
}

HRESULT AttributeStore::GetUnknown(REFGUID key, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    PROPVARIANT v;
    HRESULT hr = GetTyped(key, VT_UNKNOWN, &v);
    if (FAILED(hr)) return hr;
    if (!v.punkVal) return E_NOINTERFACE;
    return v.punkVal->QueryInterface(riid, ppv);
}

HRESULT AttributeStore::SetItem(REFGUID key, REFPROPVARIANT value) {
    if (!IsStorableType(value.vt)) return MF_E_INVALIDTYPE;
    if ((value.vt == VT_CLSID && !value.puuid) || (value.vt == VT_LPWSTR && !value.pwszVal)) return E_POINTER;
    PROPVARIANT copy;
    PropVariantInit(&copy);
    HRESULT hr = PropVariantCopy(&copy, &value);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (Item* item = Find(key)) {
        PropVariantClear(&item->value);
        item->value = copy;
        return S_OK;
    }
    try {
        m_items.push_back(Item{key, copy});
    } catch (...) {
        PropVariantClear(&copy);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT AttributeStore::DeleteItem(REFGUID key) {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if (IsEqualGUID(it->key, key)) {
            PropVariantClear(&it->value);
            m_items.erase(it);
            break;
        }
    }
    return S_OK;
}

HRESULT AttributeStore::DeleteAllItems() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    for (auto& item : m_items) PropVariantClear(&item.value);
    m_items.clear();
    return S_OK;
}

HRESULT AttributeStore::LockStore() {
    m_lock.lock();
    return S_OK;
}

HRESULT AttributeStore::UnlockStore() {
    m_lock.unlock();
    return S_OK;
}

HRESULT AttributeStore::GetCount(UINT32* count) {
    if (!count) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    *count = static_cast<UINT32>(m_items.size());
    return S_OK;
}

HRESULT AttributeStore::GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) {
    if (!key) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (index >= m_items.size()) return E_INVALIDARG;
    *key = m_items[index].key;
    return value ? PropVariantCopy(value, &m_items[index].value) : S_OK;
}

HRESULT AttributeStore::CopyAllItems(IMFAttributes* dest) {
    if (!dest) return E_POINTER;
    std::lock_guard<std::recursive_mutex> g(m_lock);
    dest->DeleteAllItems();
    for (auto& item : m_items) {
        HRESULT hr = dest->SetItem(item.key, item.value);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

namespace {
class Attributes final : public TAttributes<IMFAttributes> {
    PLAT_REFCOUNT(Attributes)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(Attributes, IMFAttributes), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    virtual ~Attributes() = default;
};
} // namespace

extern "C" HRESULT MFCreateAttributes(IMFAttributes** attributes, UINT32) {
    return PlatCreate<Attributes>(attributes);
}
