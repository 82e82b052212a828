// The work item that runs one stream's production: asked for any number of times, it runs once at a time and once
// more after a run that was asked for again meanwhile (so no ask is lost and no two runs overlap). It holds the
// source's link, not the source, and keeps the module loaded while it waits in the work queue.
#pragma once
#include <atomic>

#include "base_object.h"
#include "source_link.h"

class CProductionItem final : private MediaFoundationSamples::BaseObject, public IMFAsyncCallback, public CNoThrowAlloc {
public:
    CProductionItem(SourceLink* link, int32_t index);
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* result) override;

    // Production should run (again); false when the work item could not be posted.
    bool Ask();

private:
    ~CProductionItem() override;
    enum : int { Idle, Queued, Running, RunAgain };
    std::atomic<ULONG> m_cRef{1};
    std::atomic<int> m_status{Idle};
    SourceLink* m_pLink;
    const int32_t m_index;
};
