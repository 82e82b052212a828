#include "presentation_tags.h"

namespace tags {
CPresentationTags::~CPresentationTags() {
    for (size_t i = 0; i < m_streams.Count(); ++i)
        delete m_streams[i];
}

HRESULT CPresentationTags::AddStream(uint32_t serial, CStreamTags** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    if (m_streams.Count() >= kMaxTagStreams || FindStream(serial)) return E_INVALIDARG;
    HRESULT hr = m_streams.Reserve(m_streams.Count() + 1);
    if (FAILED(hr)) return hr;
    auto* record = new CStreamTags(serial, &m_budget);
    if (!record) return E_OUTOFMEMORY;
    m_streams.Append(record); // room was reserved: cannot fail
    *stream = record;
    return S_OK;
}

CStreamTags* CPresentationTags::FindStream(uint32_t serial) const {
    for (size_t i = 0; i < m_streams.Count(); ++i)
        if (m_streams[i]->Serial() == serial) return m_streams[i];
    return nullptr;
}

const CStreamTags* CPresentationTags::SourceOf(TagProperty p) const {
    for (size_t i = 0; i < m_streams.Count(); ++i)
        if (m_streams[i]->ValueCount(p) > 0) return m_streams[i];
    return nullptr;
}

size_t CPresentationTags::ValueCount(TagProperty p) const {
    const CStreamTags* s = SourceOf(p);
    return s ? s->ValueCount(p) : 0;
}

TagText CPresentationTags::Value(TagProperty p, size_t index) const {
    const CStreamTags* s = SourceOf(p);
    return s ? s->Value(p, index) : TagText{};
}

bool CPresentationTags::Year(uint32_t* year) const {
    for (size_t i = 0; i < m_streams.Count(); ++i)
        if (m_streams[i]->Year(year)) return true;
    return false;
}

bool CPresentationTags::TrackNumber(uint32_t* number) const {
    for (size_t i = 0; i < m_streams.Count(); ++i)
        if (m_streams[i]->TrackNumber(number)) return true;
    return false;
}

bool CPresentationTags::TrackTotal(uint32_t* total) const {
    for (size_t i = 0; i < m_streams.Count(); ++i)
        if (m_streams[i]->TrackTotal(total)) return true;
    return false;
}

bool CPresentationTags::Cover(TagPicture* cover) const {
    // Ranks: a front cover, then any picture but a file icon, then a file icon; the first of the best rank.
    int best = 3;
    for (size_t i = 0; i < m_streams.Count(); ++i) {
        for (size_t k = 0; k < m_streams[i]->PictureCount(); ++k) {
            const TagPicture p = m_streams[i]->Picture(k);
            const int rank = p.type == 3 ? 0 : p.type == 1 || p.type == 2 ? 2 : 1;
            if (rank >= best) continue;
            best = rank;
            *cover = p;
            if (rank == 0) return true;
        }
    }
    return best < 3;
}

TagText CPresentationTags::StreamName(size_t i) const {
    const TagText own = m_streams[i]->Value(TagProperty::Title);
    const TagText title = Value(TagProperty::Title);
    bool same = own.length == title.length;
    for (size_t k = 0; same && k < own.length; ++k)
        same = own.text[k] == title.text[k];
    return same ? TagText{} : own;
}
} // namespace tags
