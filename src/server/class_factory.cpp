// The class table, the class factory, and the two entry points that serve them.
#include <atomic>

#include "server.h"
#include "source/base_object.h"
#include "shell/shell_property_handler.h"
#ifdef OGGSOURCE_THUMBNAIL_PROVIDER
#include "shell/thumbnail_provider.h"
#endif
#include "source/byte_stream_handler.h"

namespace {
const ClassTableEntry kClasses[] = {
    {&CLSID_OGGByteStreamHandler, &OGGByteStreamHandler::CreateInstance},
    {&CLSID_OGGPropertyHandler, &CreateShellPropertyHandler},
#ifdef OGGSOURCE_THUMBNAIL_PROVIDER // WIC decodes the cover: the Windows build only
    {&CLSID_OGGThumbnailProvider, &CreateThumbnailProvider},
#endif
};
constexpr size_t kClassCount = sizeof kClasses / sizeof kClasses[0];
} // namespace

namespace MediaFoundationSamples {
STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() { return ++m_refCount; }

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    ULONG n = --m_refCount;
    if (n == 0) delete this;
    return n;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    return m_create(outer, riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    BaseObject::LockServer(lock != FALSE);
    return S_OK;
}
} // namespace MediaFoundationSamples

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    ApplyTraceSwitch(); // a host's first call into the module: not DllMain, where the registry must not be read
    for (size_t i = 0; i < kClassCount; ++i) {
        if (!IsEqualCLSID(clsid, *kClasses[i].clsid)) continue;
        auto* factory = new MediaFoundationSamples::ClassFactory(kClasses[i].create);
        if (!factory) return E_OUTOFMEMORY;
        HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return MediaFoundationSamples::BaseObject::Count() == 0 ? S_OK : S_FALSE;
}
