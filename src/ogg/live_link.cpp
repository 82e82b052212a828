#include "live_link.h"

COggLiveLink::~COggLiveLink() {
    for (int32_t i = 0; i < m_cStreams; ++i)
        delete m_streams[i];
}

ULONG COggLiveLink::Release() {
    const ULONG n = --m_refs;
    if (n == 0) delete this;
    return n;
}

HRESULT COggLiveLink::AddStream(uint32_t serial, COggLogicalStream** record) {
    *record = nullptr;
    if (m_cStreams >= kMaxLinkStreams) return E_FAIL;
    auto* s = new COggLogicalStream(serial, m_pFourccs);
    if (!s) return E_OUTOFMEMORY;
    m_streams[m_cStreams++] = s;
    *record = s;
    return S_OK;
}

void COggLiveLink::TakeTagPage(ogg_page* page, int32_t codec) {
    if (!m_tagsBegun) m_tagsBegun = SUCCEEDED(m_tags.BeginLink(0)); // without memory, the link has no tags
    if (m_tagsBegun) m_tags.TakePage(page, codec);
}

const COggLogicalStream* COggLiveLink::Find(uint32_t serial) const {
    for (int32_t i = 0; i < m_cStreams; ++i)
        if (m_streams[i]->Serial() == serial) return m_streams[i];
    return nullptr;
}
