// The system's memory property store: copies of values by key, in the order the keys were first set.
#include <mutex>
#include <vector>

#include "com_impl.h"
#include "propsys.h"

namespace {
class MemoryPropertyStore final : public IPropertyStore {
    PLAT_REFCOUNT(MemoryPropertyStore)
    MemoryPropertyStore() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(MemoryPropertyStore, IPropertyStore), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetCount(DWORD* cProps) override {
        if (!cProps) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        *cProps = static_cast<DWORD>(m_items.size());
        return S_OK;
    }
    HRESULT GetAt(DWORD iProp, PROPERTYKEY* pkey) override {
        if (!pkey) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        if (iProp >= m_items.size()) return E_INVALIDARG;
        *pkey = m_items[iProp].key;
        return S_OK;
    }
    HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* pv) override {
        if (!pv) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        for (const Item& item : m_items)
            if (item.key == key) return PropVariantCopy(pv, &item.value);
        PropVariantInit(pv); // a key never set reads as empty, and that is no failure
        return S_OK;
    }
    HRESULT SetValue(REFPROPERTYKEY key, REFPROPVARIANT propvar) override {
        PROPVARIANT copy;
        PropVariantInit(&copy);
        HRESULT hr = PropVariantCopy(&copy, &propvar);
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> g(m_lock);
        for (Item& item : m_items) {
            if (item.key == key) {
                PropVariantClear(&item.value);
                item.value = copy;
                return S_OK;
            }
        }
        try {
            m_items.push_back(Item{key, copy});
        } catch (...) {
            PropVariantClear(&copy);
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT Commit() override { return S_OK; } // nothing lies behind a store in memory

private:
    struct Item {
        PROPERTYKEY key;
        PROPVARIANT value;
    };
    ~MemoryPropertyStore() {
        for (Item& item : m_items)
            PropVariantClear(&item.value);
    }
    std::mutex m_lock;
    std::vector<Item> m_items;
};
} // namespace

extern "C" HRESULT PSCreateMemoryPropertyStore(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    MemoryPropertyStore* store = nullptr;
    HRESULT hr = PlatCreate<MemoryPropertyStore>(&store);
    if (FAILED(hr)) return hr;
    hr = store->QueryInterface(riid, ppv);
    store->Release();
    return hr;
}
