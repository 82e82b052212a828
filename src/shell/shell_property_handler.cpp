#include "shell_property_handler.h"

#include "core_summary.h"
#include "source/module_object.h"
#include "source/source_property_store.h"
#include "stream_core.h"
#include "support/lock.h"

namespace {
// The tags and format of the file's start, read from the stream into a read-only store.
HRESULT ReadProperties(IStream* stream, IPropertyStore** store) {
    COggDemuxer* core = nullptr;
    HRESULT hr = OpenStreamCore(stream, &core);
    MediaSummary summary;
    if (SUCCEEDED(hr)) hr = SummarizeCore(*core, &summary);
    if (SUCCEEDED(hr))
        hr = CreateSourcePropertyStore(StartTags(*core), summary, IID_IPropertyStore,
                                       reinterpret_cast<void**>(store));
    CloseStreamCore(core);
    return hr;
}

class CShellPropertyHandler final : public IInitializeWithStream,
                                    public IPropertyStore,
                                    public IPropertyStoreCapabilities,
                                    public CModuleObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(CShellPropertyHandler, IInitializeWithStream),
                                      QITABENT(CShellPropertyHandler, IPropertyStore),
                                      QITABENT(CShellPropertyHandler, IPropertyStoreCapabilities),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CountReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    // The mode is not checked: the handler only reads, and SetValue refuses what a writing caller would ask.
    HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD) override {
        if (!stream) return E_POINTER;
        {
            CAutoLock lock(m_lock);
            if (m_initialized) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
            // One attempt per object, as the shell makes one per file: a failed read is not tried again.
            m_initialized = true;
        }
        // The file is read without the lock: a call meanwhile answers at once (nothing to tell yet).
        IPropertyStore* store = nullptr;
        const HRESULT hr = ReadProperties(stream, &store);
        CAutoLock lock(m_lock);
        m_pStore = store;
        return hr;
    }

    // Before Initialize (or after it failed) there is nothing to tell: E_UNEXPECTED, the shell's own answer.
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        CAutoLock lock(m_lock);
        if (!count) return E_POINTER;
        *count = 0;
        return m_pStore ? m_pStore->GetCount(count) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
        CAutoLock lock(m_lock);
        return m_pStore ? m_pStore->GetAt(index, key) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        CAutoLock lock(m_lock);
        if (!value) return E_POINTER;
        PropVariantInit(value);
        return m_pStore ? m_pStore->GetValue(key, value) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE IsPropertyWritable(REFPROPERTYKEY) override { return S_FALSE; }

private:
    ~CShellPropertyHandler() override {
        if (m_pStore) m_pStore->Release();
    }
    CLock m_lock;
    bool m_initialized = false;
    IPropertyStore* m_pStore = nullptr;
};
} // namespace

HRESULT CreateShellPropertyHandler(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CShellPropertyHandler* handler = new CShellPropertyHandler;
    if (!handler) return E_OUTOFMEMORY;
    const HRESULT hr = handler->QueryInterface(riid, ppv);
    handler->Release();
    return hr;
}
