// The module: its handle, its classes, the class factory and the object count.
#pragma once
#include <atomic>

#include "platform/platform.h"
#include "support/alloc.h"

#include "oggsource.h" // the module's classes: the byte-stream handler, the property handler, the thumbnails

extern HMODULE g_hModule; // set when the module is loaded

// Registration (registration.cpp): a class key with its InprocServer32 (this module, ThreadingModel Both).
HRESULT RegisterInprocClass(REFCLSID rclsid, LPCSTR friendlyName);
// The shell property handler (property_handler_registration.cpp): its class, the machine-wide handler entries
// where it may write them and no other product's handler is registered, and the extensions' property lists.
HRESULT RegisterPropertyHandler();
// Removes what RegisterPropertyHandler wrote (entries naming another class stay); the property lists stay while
// the other build (otherView) is still registered.
void UnregisterPropertyHandler(bool otherView);
// The thumbnail provider (thumbnail_registration.cpp): its class, and from the 64-bit build the shell's
// thumbnail entries where it may write them and no other product's provider is registered.
HRESULT RegisterThumbnailProvider();
// Removes its class and the entries that name it (the 64-bit build's only).
void UnregisterThumbnailProvider();

// Sets the trace log's flags from OGGSOURCE_TRACE or the settings key's "Trace" value; once per load.
void ApplyTraceSwitch();

typedef HRESULT (*CreateInstanceFn)(IUnknown* outer, REFIID riid, void** ppv);

struct ClassTableEntry {
    const CLSID* clsid;
    CreateInstanceFn create;
};

namespace MediaFoundationSamples {
class ClassFactory final : public IClassFactory, public CNoThrowAlloc {
public:
    explicit ClassFactory(CreateInstanceFn create) : m_create(create) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~ClassFactory() = default;
    std::atomic<ULONG> m_refCount{1};
    CreateInstanceFn m_create;
};
} // namespace MediaFoundationSamples

