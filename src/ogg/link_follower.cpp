// The links of a chain read once (link_follower.h).
#include "link_follower.h"

#include <cstdlib>
#include <cstring>

#include "ogg_demuxer.h"

CLinkFollower::CLinkFollower(COggDemuxer* core) : m_pCore(core) {
    for (int32_t& s : m_streamOf)
        s = -1;
}

CLinkFollower::~CLinkFollower() {
    for (COggLiveLink* l : {m_current, m_pending})
        if (l) l->Release();
    while (PageNode* node = m_release) {
        m_release = node->pNext;
        m_held.Recycle(node);
    }
    m_held.Recycle(m_released);
    std::free(m_releaseCopy);
    delete[] m_enter;
    delete[] m_lastEos;
}

HRESULT CLinkFollower::Init() {
    m_cStreams = m_pCore->StreamCount();
    m_enter = new (std::nothrow) bool[static_cast<size_t>(m_cStreams)]();
    m_lastEos = new (std::nothrow) bool[static_cast<size_t>(m_cStreams)]();
    m_releaseCopy = static_cast<BYTE*>(AllocBytes(kMaxPageSize));
    return m_enter && m_lastEos && m_releaseCopy ? S_OK : E_OUTOFMEMORY;
}

COggStream* CLinkFollower::StreamOf(uint32_t serial, const COggLogicalStream** record) const {
    *record = nullptr;
    if (!m_current) {
        COggStream* s = m_pCore->FindStream(serial);
        if (s) *record = &s->Logical();
        return s;
    }
    for (int32_t i = 0; i < m_current->StreamCount(); ++i) {
        if (m_current->Stream(i)->Serial() != serial || m_streamOf[i] < 0) continue;
        *record = m_current->Stream(i);
        return m_pCore->Stream(m_streamOf[i]);
    }
    return nullptr;
}

LONGLONG CLinkFollower::TimeOf(const COggLogicalStream* record, LONGLONG granule) const {
    const LONGLONG own = granule == -1 ? -1 : record->GranuleToTime(granule);
    if (own < 0) return -1;
    return SatAdd(own, m_current ? m_current->Shift() : SatSub(0, m_pCore->Origin()));
}

HRESULT CLinkFollower::Place(const OggPageView& page, Placed* placed) {
    *placed = Placed{};
    const uint32_t serial = page.header.serial;
    ogg_page og = AsOggPage(page);
    if (m_pending) {
        if (const COggLogicalStream* r = m_pending->Find(serial)) {
            auto* record =
                const_cast<COggLogicalStream*>(r); // the link is still being built: it is ours to change
            if (record->HasHeaders()) record->ParseHeaderPage(&og);
            m_pending->TakeTagPage(&og, record->CodecKind());
            m_pendingData = m_pendingData || !page.header.FirstOfStream();
            const HRESULT hr = Hold(page);
            if (Complete()) Finish();
            return hr;
        }
    }
    const COggLogicalStream* record = nullptr;
    if (COggStream* s = StreamOf(serial, &record)) {
        placed->stream = s;
        placed->time = TimeOf(record, page.header.granule);
        placed->enters = m_enter[s->Index()] ? m_current : nullptr;
        m_lastEos[s->Index()] = page.header.LastOfStream();
        if (placed->time > m_lastEnd) m_lastEnd = placed->time;
        return S_OK;
    }
    // A stream of the current link that goes on in none of the core's, or of no link known (a broadcast
    // joined within a link): nobody's.
    if (!page.header.FirstOfStream() || (m_current && m_current->Find(serial))) return S_OK;
    if (m_pending && m_pendingData) Finish(); // the link ended before its streams were all described
    const HRESULT hr = Begin(serial, &og);
    if (FAILED(hr)) return hr;
    return Hold(page);
}

HRESULT CLinkFollower::Begin(uint32_t serial, ogg_page* og) {
    if (!m_pending) {
        m_pending = new COggLiveLink(m_current ? m_current->Number() + 1 : 1, &m_pCore->Fourccs());
        if (!m_pending) return E_OUTOFMEMORY;
    }
    COggLogicalStream* record = nullptr;
    const HRESULT hr = m_pending->AddStream(serial, &record);
    if (hr == E_FAIL) return S_OK; // streams beyond a link's limit are not read
    if (FAILED(hr)) return hr;
    record->ParseHeaderPage(og);
    m_pending->TakeTagPage(og, record->CodecKind());
    return S_OK;
}

// A copy of a page of the link being built; the page's file offset rides in the copy's time.
HRESULT CLinkFollower::Hold(const OggPageView& page) {
    if (m_heldPages >= kMaxHeldPages || m_heldBytes >= kMaxHeldBytes) return S_OK; // Complete() is true then
    ogg_page og = AsOggPage(page);
    const LONGLONG offset = page.offset;
    if (!m_held.AddPage(&og, &offset)) return E_OUTOFMEMORY;
    ++m_heldPages;
    m_heldBytes += page.header.Size();
    return S_OK;
}

// The link can be read: each stream's headers are in and each media stream's first time is known, or no more
// of its pages can be held.
bool CLinkFollower::Complete() const {
    if (m_heldPages >= kMaxHeldPages || m_heldBytes >= kMaxHeldBytes) return true;
    for (int32_t i = 0; i < m_pending->StreamCount(); ++i) {
        const COggLogicalStream* r = m_pending->Stream(i);
        if (r->HeadersPending() && (!r->Identified() || (r->Codec() && r->Codec()->IsMedia()))) return false;
        if (r->IsMediaStream() && r->StartTimePending()) return false;
    }
    return true;
}

// The link built becomes the one read: its media streams matched with the first link's, its times placed
// after the link before, and its held pages released to be placed again.
void CLinkFollower::Finish() {
    COggLiveLink* link = m_pending;
    m_pending = nullptr;
    m_pendingData = false;
    link->EndTags();
    bool used[kMaxLinkStreams] = {};
    LONGLONG first = MaxTime;
    for (int32_t i = 0; i < kMaxLinkStreams; ++i)
        m_streamOf[i] = -1;
    for (int32_t i = 0; i < link->StreamCount(); ++i) {
        const COggLogicalStream* r = link->Stream(i);
        if (!r->IsMediaStream()) continue;
        if (r->FirstTimeKnown() && r->FirstTime() < first) first = r->FirstTime();
        for (int32_t j = 0; j < m_cStreams && j < kMaxLinkStreams; ++j) {
            const COggLogicalStream& s = m_pCore->Stream(j)->Logical();
            if (used[j] || !s.IsMediaStream() || s.CodecKind() != r->CodecKind() ||
                !IsEqualGUID(s.MediaType().majortype, r->MediaType().majortype))
                continue;
            used[j] = true;
            m_streamOf[i] = j;
            break;
        }
    }
    // As in a chain read anywhere: a link's time starts at its first packet, or at 0 when that packet begins
    // before it (its packets before 0 end where the link before ends).
    link->SetTimes(first == MaxTime || first < 0 ? 0 : first, m_lastEnd);
    if (m_current) m_current->Release();
    m_current = link;
    for (int32_t j = 0; j < m_cStreams; ++j) {
        m_enter[j] = j < kMaxLinkStreams && used[j];
        m_lastEos[j] = false;
    }
    PageNode** tail = &m_release;
    while (*tail)
        tail = &(*tail)->pNext;
    while (PageNode* node = m_held.RemoveHead()) {
        node->pNext = nullptr;
        *tail = node;
        tail = &node->pNext;
    }
    m_heldPages = 0;
    m_heldBytes = 0;
}

bool CLinkFollower::TakeReleased(OggPageView* page) {
    for (;;) {
        m_held.Recycle(m_released);
        m_released = m_release;
        if (!m_released) return false;
        m_release = m_released->pNext;
        const ogg_page& og = m_released->page;
        const auto size = static_cast<size_t>(og.header_len + og.body_len);
        std::memcpy(m_releaseCopy, og.header, static_cast<size_t>(og.header_len));
        std::memcpy(m_releaseCopy + og.header_len, og.body, static_cast<size_t>(og.body_len));
        page->data = m_releaseCopy;
        page->offset = m_released->tTime;
        if (ParsePageHeader(m_releaseCopy, size, &page->header) == PageParse::Page) return true;
    }
}

void CLinkFollower::Taken(const Placed& placed) {
    if (placed.enters && placed.stream) m_enter[placed.stream->Index()] = false;
}

void CLinkFollower::NewRun() {
    for (int32_t j = 0; j < m_cStreams; ++j) {
        bool matched = false;
        for (int32_t i = 0; m_current && i < m_current->StreamCount(); ++i)
            matched = matched || m_streamOf[i] == j;
        m_enter[j] = matched;
    }
}

bool CLinkFollower::EndedCleanly(int32_t stream) const {
    return stream >= 0 && stream < m_cStreams && m_lastEos[stream];
}
