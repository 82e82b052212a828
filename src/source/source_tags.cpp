// The source's tag services: a snapshot of the presentation's tags and format, as a property store or as a
// metadata provider.
#include "metadata_provider.h"
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
    // A chained file: the tags of the link being played (where the streams are), as far as the open read
    // them.
    const int32_t link = m_pCore->LinkCount() > 1 ? m_pCore->LinkAt(CurrentPosition()) : 0;
    const tags::CPresentationTags* tags =
        m_pCore->LinkTags(link) ? m_pCore->LinkTags(link) : m_pCore->LinkTags(0);
    if (IsEqualGUID(service, MF_PROPERTY_HANDLER_SERVICE))
        return CreateSourcePropertyStore(tags, summary, riid, ppv);
    return CreateMetadataProvider(tags, m_pPD, riid, ppv);
}
