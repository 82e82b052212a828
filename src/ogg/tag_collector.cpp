// The open's tag collection: each stream's header packets, reassembled, to its tag record.
#include "tag_collector.h"

#include <cstdlib>

#include "chain.h"

using tags::CommentLayout;

namespace {
// Ogg FLAC states its header packets in the first; a file that does not is read up to this many blocks.
constexpr int32_t kMaxFlacBlocks = 1024;

bool LayoutOf(int32_t codec, CommentLayout* layout) {
    switch (codec) {
    case CODEC_VORBIS:
        *layout = CommentLayout::Vorbis;
        return true;
    case CODEC_THEORA:
        *layout = CommentLayout::Theora;
        return true;
    case CODEC_OGM:
        *layout = CommentLayout::Ogm;
        return true;
    case CODEC_OPUS:
        *layout = CommentLayout::Opus;
        return true;
    case CODEC_SPEEX:
        *layout = CommentLayout::Speex;
        return true;
    default:
        return false;
    }
}
} // namespace

CTagCollector::~CTagCollector() {
    Clear();
    for (int32_t k = 0; k < m_cLinks; ++k)
        delete m_ppLinks[k];
    std::free(m_ppLinks);
}

void CTagCollector::Clear() {
    for (int32_t i = 0; i < m_cStreams; ++i) {
        ogg_stream_clear(&m_ppStreams[i]->state);
        std::free(m_ppStreams[i]);
    }
    std::free(m_ppStreams);
    m_ppStreams = nullptr;
    m_cStreams = 0;
}

HRESULT CTagCollector::BeginLink(int32_t link) {
    Clear();
    if (link < m_cLinks) { // the link is read again: its tags start over
        delete m_ppLinks[link];
        m_ppLinks[link] = new tags::CPresentationTags();
        return m_ppLinks[link] ? S_OK : E_OUTOFMEMORY;
    }
    if (link != m_cLinks) return E_INVALIDARG;
    auto** grown = static_cast<tags::CPresentationTags**>(
        ReallocBytes(m_ppLinks, sizeof(tags::CPresentationTags*) * static_cast<size_t>(m_cLinks + 1)));
    if (!grown) return E_OUTOFMEMORY;
    m_ppLinks = grown;
    m_ppLinks[m_cLinks] = new tags::CPresentationTags();
    if (!m_ppLinks[m_cLinks]) return E_OUTOFMEMORY;
    ++m_cLinks;
    return S_OK;
}

void CTagCollector::EndLink() {
    Clear();
}

CTagCollector::StreamHeaders* CTagCollector::Find(uint32_t serial) const {
    for (int32_t i = 0; i < m_cStreams; ++i)
        if (m_ppStreams[i]->serial == serial) return m_ppStreams[i];
    return nullptr;
}

bool CTagCollector::Pending(uint32_t serial) const {
    const StreamHeaders* s = Find(serial);
    return s && !s->done;
}

bool CTagCollector::AnyPending() const {
    for (int32_t i = 0; i < m_cStreams; ++i)
        if (!m_ppStreams[i]->done) return true;
    return false;
}

HRESULT CTagCollector::AddStream(uint32_t serial, int32_t codec, StreamHeaders** out) {
    if (m_cStreams >= kMaxLinkStreams || m_cLinks == 0) return E_INVALIDARG;
    auto* s = static_cast<StreamHeaders*>(AllocZeroed(1, sizeof(StreamHeaders)));
    if (!s) return E_OUTOFMEMORY;
    auto** grown = static_cast<StreamHeaders**>(
        ReallocBytes(m_ppStreams, sizeof(StreamHeaders*) * static_cast<size_t>(m_cStreams + 1)));
    if (!grown) {
        std::free(s);
        return E_OUTOFMEMORY;
    }
    m_ppStreams = grown;
    s->serial = serial;
    s->codec = codec;
    CommentLayout layout;
    const bool tagged = codec == CODEC_FLAC || LayoutOf(codec, &layout);
    // A stream of no codec with comments (not media, or not understood) waits for nothing; an allocation that
    // fails leaves the stream without tags, not the open failed.
    s->done = !tagged || FAILED(m_ppLinks[m_cLinks - 1]->AddStream(serial, &s->record));
    ogg_stream_init(&s->state, static_cast<int>(serial));
    m_ppStreams[m_cStreams++] = s;
    *out = s;
    return S_OK;
}

void CTagCollector::TakePage(ogg_page* page, int32_t codec) {
    const uint32_t serial = static_cast<uint32_t>(ogg_page_serialno(page));
    StreamHeaders* s = Find(serial);
    if (!s && (!ogg_page_bos(page) || FAILED(AddStream(serial, codec, &s)))) return;
    if (s->done) return;
    if (ogg_stream_pagein(&s->state, page) != 0) return;
    ogg_packet packet;
    for (int r; !s->done && (r = ogg_stream_packetout(&s->state, &packet)) != 0;)
        if (r > 0) TakePacket(s, packet);     // a gap (-1): the packets after it are still read
    if (s->done) ogg_stream_reset(&s->state); // what was reassembled is let go at once
}

// The comment header is each layout's second packet; an Ogg FLAC stream's metadata blocks are the packets
// after its first, up to the last-block flag or the stated count, whichever comes first.
void CTagCollector::TakePacket(StreamHeaders* s, const ogg_packet& packet) {
    const auto* data = static_cast<const BYTE*>(packet.packet);
    const size_t bytes = packet.bytes > 0 ? static_cast<size_t>(packet.bytes) : 0;
    const int32_t index = s->packets++;
    if (s->codec != CODEC_FLAC) {
        CommentLayout layout;
        if (index == 1 && LayoutOf(s->codec, &layout)) s->record->TakeCommentPacket(layout, data, bytes);
        s->done = index >= 1;
        return;
    }
    if (index == 0) {
        if (bytes >= 9) s->flacHeaders = (data[7] << 8) | data[8];
        return;
    }
    if (bytes == 0 || data[0] == 0xFF) { // an audio frame (its sync code): the metadata is over
        s->done = true;
        return;
    }
    s->record->TakeFlacMetadataBlock(data, bytes);
    s->done = (data[0] & 0x80) || (s->flacHeaders > 0 && index >= s->flacHeaders) || index >= kMaxFlacBlocks;
}
