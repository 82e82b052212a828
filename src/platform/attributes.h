// The attribute store under media types, events, samples and descriptors.
#pragma once
#include <mutex>
#include <vector>

#include "com_impl.h"
#include "mfobjects.h"

class AttributeStore {
public:
    AttributeStore() = default;
    AttributeStore(const AttributeStore&) = delete;
    AttributeStore& operator=(const AttributeStore&) = delete;
    ~AttributeStore();

    HRESULT GetItem(REFGUID key, PROPVARIANT* value);
    HRESULT GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type);
    HRESULT CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result);
    HRESULT Compare(IMFAttributes* self, IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result);
    HRESULT GetUINT32(REFGUID key, UINT32* value);
    HRESULT GetUINT64(REFGUID key, UINT64* value);
    HRESULT GetDouble(REFGUID key, double* value);
    HRESULT GetGUID(REFGUID key, GUID* value);
    HRESULT GetStringLength(REFGUID key, UINT32* length);
    HRESULT GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length);
    HRESULT GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length);
    HRESULT GetBlobSize(REFGUID key, UINT32* size);
    HRESULT GetBlob(REFGUID key, UINT8* buf, UINT32 bufsize, UINT32* blobsize);
    HRESULT GetAllocatedBlob(REFGUID key, UINT8** buf, UINT32* size);
    HRESULT GetUnknown(REFGUID key, REFIID riid, void** ppv);
    HRESULT SetItem(REFGUID key, REFPROPVARIANT value);
    HRESULT DeleteItem(REFGUID key);
    HRESULT DeleteAllItems();
    HRESULT LockStore();
    HRESULT UnlockStore();
    HRESULT GetCount(UINT32* count);
    HRESULT GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value);
    HRESULT CopyAllItems(IMFAttributes* dest);

private:
    struct Item {
        GUID key;
        PROPVARIANT value;
    };
    Item* Find(REFGUID key);
    // Copies the item if it exists and has the given type; the typed getters' common path.
    HRESULT GetTyped(REFGUID key, VARTYPE vt, PROPVARIANT* out);

    std::recursive_mutex m_lock;
    std::vector<Item> m_items;
};

// IMFAttributes for any interface derived from it, served by an AttributeStore.
template <class Base> class TAttributes : public Base {
public:
    HRESULT GetItem(REFGUID k, PROPVARIANT* v) override { return m_attrs.GetItem(k, v); }
    HRESULT GetItemType(REFGUID k, MF_ATTRIBUTE_TYPE* t) override { return m_attrs.GetItemType(k, t); }
    HRESULT CompareItem(REFGUID k, REFPROPVARIANT v, BOOL* r) override { return m_attrs.CompareItem(k, v, r); }
    HRESULT Compare(IMFAttributes* a, MF_ATTRIBUTES_MATCH_TYPE t, BOOL* r) override {
        return m_attrs.Compare(this, a, t, r);
    }
    HRESULT GetUINT32(REFGUID k, UINT32* v) override { return m_attrs.GetUINT32(k, v); }
    HRESULT GetUINT64(REFGUID k, UINT64* v) override { return m_attrs.GetUINT64(k, v); }
    HRESULT GetDouble(REFGUID k, double* v) override { return m_attrs.GetDouble(k, v); }
    HRESULT GetGUID(REFGUID k, GUID* v) override { return m_attrs.GetGUID(k, v); }
    HRESULT GetStringLength(REFGUID k, UINT32* n) override { return m_attrs.GetStringLength(k, n); }
    HRESULT GetString(REFGUID k, LPWSTR v, UINT32 s, UINT32* n) override { return m_attrs.GetString(k, v, s, n); }
    HRESULT GetAllocatedString(REFGUID k, LPWSTR* v, UINT32* n) override {
        return m_attrs.GetAllocatedString(k, v, n);
    }
    HRESULT GetBlobSize(REFGUID k, UINT32* n) override { return m_attrs.GetBlobSize(k, n); }
    HRESULT GetBlob(REFGUID k, UINT8* b, UINT32 s, UINT32* n) override { return m_attrs.GetBlob(k, b, s, n); }
    HRESULT GetAllocatedBlob(REFGUID k, UINT8** b, UINT32* n) override { return m_attrs.GetAllocatedBlob(k, b, n); }
    HRESULT GetUnknown(REFGUID k, REFIID riid, void** ppv) override { return m_attrs.GetUnknown(k, riid, ppv); }
    HRESULT SetItem(REFGUID k, REFPROPVARIANT v) override { return m_attrs.SetItem(k, v); }
    HRESULT DeleteItem(REFGUID k) override { return m_attrs.DeleteItem(k); }
    HRESULT DeleteAllItems() override { return m_attrs.DeleteAllItems(); }
    HRESULT SetUINT32(REFGUID k, UINT32 v) override {
        PROPVARIANT p{};
        p.vt = VT_UI4;
        p.ulVal = v;
        return m_attrs.SetItem(k, p);
    }
    HRESULT SetUINT64(REFGUID k, UINT64 v) override {
        PROPVARIANT p{};
        p.vt = VT_UI8;
        p.uhVal.QuadPart = v;
        return m_attrs.SetItem(k, p);
    }
    HRESULT SetDouble(REFGUID k, double v) override {
        PROPVARIANT p{};
        p.vt = VT_R8;
        p.dblVal = v;
        return m_attrs.SetItem(k, p);
    }
    HRESULT SetGUID(REFGUID k, REFGUID v) override {
        PROPVARIANT p{};
        p.vt = VT_CLSID;
        p.puuid = const_cast<GUID*>(&v);
        return m_attrs.SetItem(k, p);
    }
    HRESULT SetString(REFGUID k, LPCWSTR v) override {
        if (!v) return E_POINTER;
        PROPVARIANT p{};
        p.vt = VT_LPWSTR;
        p.pwszVal = const_cast<LPWSTR>(v);
        return m_attrs.SetItem(k, p);
    }
    HRESULT SetBlob(REFGUID k, const UINT8* b, UINT32 n) override {
        if (!b && n) return E_POINTER;
        PROPVARIANT p{};
        p.vt = VT_VECTOR | VT_UI1;
        p.caub.cElems = n;
        p.caub.pElems = const_cast<UINT8*>(b);
        return m_attrs.SetItem(k, p);
    }
    HRESULT SetUnknown(REFGUID k, IUnknown* u) override {
        PROPVARIANT p{};
        p.vt = VT_UNKNOWN;
        p.punkVal = u;
        return m_attrs.SetItem(k, p);
    }
    HRESULT LockStore() override { return m_attrs.LockStore(); }
    HRESULT UnlockStore() override { return m_attrs.UnlockStore(); }
    HRESULT GetCount(UINT32* n) override { return m_attrs.GetCount(n); }
    HRESULT GetItemByIndex(UINT32 i, GUID* k, PROPVARIANT* v) override { return m_attrs.GetItemByIndex(i, k, v); }
    HRESULT CopyAllItems(IMFAttributes* d) override { return m_attrs.CopyAllItems(d); }

protected:
    AttributeStore m_attrs;
};
