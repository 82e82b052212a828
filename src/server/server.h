// The module: its handle, its one class, the class factory and the object count.
#pragma once
#include <atomic>

#include "platform/platform.h"
#include "support/alloc.h"

#include "oggsource.h" // CLSID_OGGByteStreamHandler, the module's one creatable class

extern HMODULE g_hModule; // set when the module is loaded

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

