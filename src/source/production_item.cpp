#include "production_item.h"

#include "ogg_source.h"

CProductionItem::CProductionItem(SourceLink* link, int32_t index) : m_pLink(link), m_index(index) { m_pLink->AddRef(); }

CProductionItem::~CProductionItem() { m_pLink->Release(); }

STDMETHODIMP CProductionItem::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB table[] = {QITABENT(CProductionItem, IMFAsyncCallback), {nullptr, 0}};
    return QISearch(this, table, riid, ppv);
}

STDMETHODIMP_(ULONG) CProductionItem::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CProductionItem::Release() {
    const ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
}

bool CProductionItem::Ask() {
    for (int s = m_status.load();;) {
        if (s == Idle) {
            if (!m_status.compare_exchange_weak(s, Queued)) continue;
            if (SUCCEEDED(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, this, nullptr))) return true;
            m_status = Idle; // the work queue is gone (the platform shut down): nothing runs any more
            return false;
        }
        if (s == Running) {
            if (m_status.compare_exchange_weak(s, RunAgain)) return true;
            continue;
        }
        return true; // queued, or already to run again
    }
}

STDMETHODIMP CProductionItem::Invoke(IMFAsyncResult*) {
    m_status = Running;
    OGGSource* source = m_pLink->Acquire();
    for (;;) {
        if (source) source->Produce(m_index);
        int s = Running;
        if (m_status.compare_exchange_strong(s, Idle)) break;
        m_status = Running; // asked again while it ran
    }
    if (source) source->Release();
    return S_OK;
}
