// The tags of the file's links as the open meets them: one presentation record per link, and each stream's
// comment header packets (Vorbis, Theora and OGM comment headers, OpusTags, Speex comments, FLAC's metadata
// blocks) reassembled from its pages and handed to the stream's record. The logical streams parse the same
// pages for their codecs; the tags are read from a reassembly of their own, so that the codecs keep nothing
// for them.
#pragma once
#include <ogg/ogg.h>

#include "ogg_types.h"
#include "support/alloc.h"
#include "tags/presentation_tags.h"

class CTagCollector : public CNoThrowAlloc {
public:
    CTagCollector() = default;
    ~CTagCollector();
    CTagCollector(const CTagCollector&) = delete;
    CTagCollector& operator=(const CTagCollector&) = delete;

    // Pages that follow go to link `link`'s record (made now; links begin in file order).
    HRESULT BeginLink(int32_t link);
    // A page of a stream of the current link, with its codec (CODEC_* once the stream's first packet was
    // read).
    void TakePage(ogg_page* page, int32_t codec);
    // Whether a stream of the current link still waits for comment headers (false for a stream not met).
    bool Pending(uint32_t serial) const;
    bool AnyPending() const;
    // The open read no further: headers not complete are left out with their tags; the reassembly is let go.
    void EndLink();

    int32_t LinkCount() const { return m_cLinks; }
    // Link k's tags; null for a link the open did not reach.
    const tags::CPresentationTags* Link(int32_t k) const {
        return k >= 0 && k < m_cLinks ? m_ppLinks[k] : nullptr;
    }

private:
    struct StreamHeaders {
        uint32_t serial;
        int32_t codec;
        int32_t packets;     // packets read so far
        int32_t flacHeaders; // Ogg FLAC's stated header packet count (0: not stated)
        bool done;
        tags::CStreamTags* record; // null: no tags are kept for the stream
        ogg_stream_state state;
    };
    StreamHeaders* Find(uint32_t serial) const;
    HRESULT AddStream(uint32_t serial, int32_t codec, StreamHeaders** out);
    void TakePacket(StreamHeaders* s, const ogg_packet& packet);
    void Clear();

    tags::CPresentationTags** m_ppLinks = nullptr;
    int32_t m_cLinks = 0;
    StreamHeaders** m_ppStreams = nullptr; // the current link's streams
    int32_t m_cStreams = 0;
};
