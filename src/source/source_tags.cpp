// The source's tag services: a snapshot of the presentation's tags and format, as a property store or as a
// metadata provider.
#include "metadata_provider.h"
#include "ogg/live_link.h"
#include "ogg_attributes.h"
#include "ogg_source.h"
#include "source_property_store.h"

HRESULT OGGSource::TagService(REFGUID service, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CAutoLock lock(m_lock);
    if (ShutDown()) return MF_E_SHUTDOWN;
    if (!m_pPD || !m_pCore) return MF_E_NOT_INITIALIZED;
    MediaSummary summary;
    HRESULT hr = SummarizePresentation(m_pPD, m_pCore->Caps().length, &summary);
    if (FAILED(hr)) return hr;
    // A chain: the tags of the link the host was told of last (of none when its headers were not read).
    COggLiveLink* live = nullptr;
    {
        std::lock_guard<std::mutex> g(m_tagLock);
        live = m_pLiveTold;
        if (live) live->AddRef();
    }
    const tags::CPresentationTags* tags = live                       ? live->Tags()
                                          : m_pCore->LinkCount() > 1 ? m_pCore->LinkTags(m_linksTold.Last())
                                                                     : m_pCore->LinkTags(0);
    hr = IsEqualGUID(service, MF_PROPERTY_HANDLER_SERVICE)
             ? CreateSourcePropertyStore(tags, summary, riid, ppv)
             : CreateMetadataProvider(tags, m_pPD, riid, ppv);
    if (live) live->Release();
    return hr;
}

// The host hears that the metadata changed. The event's value holds the presentation's attributes, the link's
// number (MF_PD_OGG_LINK) and a property store of the link's tags (MF_PD_OGG_LINK_PROPERTIES): the source's
// own store follows production, which may be in a later link by the time the host reads it. The tag services
// answer for the link from now on.
void OGGSource::TellLink(int32_t link, COggLiveLink* live) {
    if (live) {
        live->AddRef();
        std::lock_guard<std::mutex> g(m_tagLock);
        if (m_pLiveTold) m_pLiveTold->Release();
        m_pLiveTold = live;
    }
    IMFAttributes* attributes = nullptr;
    IPropertyStore* store = nullptr;
    HRESULT hr = m_pLinkAttributes && m_pCore ? MFCreateAttributes(&attributes, 16) : E_UNEXPECTED;
    if (SUCCEEDED(hr)) hr = m_pLinkAttributes->CopyAllItems(attributes);
    if (SUCCEEDED(hr)) hr = attributes->SetUINT32(MF_PD_OGG_LINK, static_cast<UINT32>(link));
    // The open's records and a link read once are not changed once made: read without a lock.
    const tags::CPresentationTags* tags = live ? live->Tags() : m_pCore ? m_pCore->LinkTags(link) : nullptr;
    if (SUCCEEDED(hr))
        hr = CreateSourcePropertyStore(tags, m_linkSummary, IID_IPropertyStore,
                                       reinterpret_cast<void**>(&store));
    if (SUCCEEDED(hr)) hr = attributes->SetUnknown(MF_PD_OGG_LINK_PROPERTIES, store);
    if (store) store->Release();
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_UNKNOWN;
    value.punkVal = attributes;
    // Without its attributes (no memory) the event still goes: the host reads the services again.
    QueueEvent(MESourceMetadataChanged, GUID_NULL, S_OK, SUCCEEDED(hr) ? &value : nullptr);
    if (attributes) attributes->Release();
}
