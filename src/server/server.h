// The module: its handle, its one class, the class factory and the object count.
#pragma once
#include <atomic>

#include "platform/platform.h"
#include "support/alloc.h"

// {D3A2C1B4-7E58-4F2A-9B6C-1E0F3A5D7C92}: the byte-stream handler, the module's one creatable class.
PLAT_GUID(CLSID_OGGByteStreamHandler, 0xd3a2c1b4, 0x7e58, 0x4f2a, 0x9b, 0x6c, 0x1e, 0x0f, 0x3a, 0x5d, 0x7c, 0x92);

extern HMODULE g_hModule; // set when the module is loaded

typedef HRESULT (*CreateInstanceFn)(IUnknown* outer, REFIID riid, void** ppv);

struct ClassTableEntry {
    const CLSID* clsid;
    CreateInstanceFn create;
};

namespace MediaFoundationSamples {
class ClassFactory final : public IClassFactory, public CNoThrowAlloc {
public:
    explicit ClassFactory(CreateInstanceFn create) : m_create(create) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL lock) override;

private:
    ~ClassFactory() = default;
    std::atomic<ULONG> m_refCount{1};
    CreateInstanceFn m_create;
};
} // namespace MediaFoundationSamples

