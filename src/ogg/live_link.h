// A link of a chain met while reading bytes that cannot be read again (a broadcast, a pipe): its streams'
// records (codec, headers, media type) and where its times go on the presentation's timeline. It is made by
// the reader once the link's headers are in, never changed after, and handed to production with the first
// page of each stream in it; production keeps it while it reads that link, so it lives as long as someone
// reads it and no table of such links grows with the broadcast.
#pragma once
#include <atomic>

#include "logical_stream.h"
#include "tag_collector.h"

class COggLiveLink : public CNoThrowAlloc {
public:
    // The link's ordinal (the first link of the file is 0) and the first link's FOURCC mapping for its
    // streams.
    COggLiveLink(int32_t number, const CFourccMap* fourccs) : m_number(number), m_pFourccs(fourccs) {}
    ULONG AddRef() { return ++m_refs; }
    ULONG Release();

    // Building, by the reader before the link is handed out.
    // A stream the link begins; E_OUTOFMEMORY, or E_FAIL past kMaxLinkStreams.
    HRESULT AddStream(uint32_t serial, COggLogicalStream** record);
    COggLogicalStream* Stream(int32_t i) { return m_streams[i]; }
    // A page of one of its streams, after the stream's record parsed it: its comment headers give the link's
    // tags.
    void TakeTagPage(ogg_page* page, int32_t codec);
    // The link is complete: tags not complete by now are left out.
    void EndTags() { m_tags.EndLink(); }
    void SetTimes(LONGLONG first, LONGLONG start) {
        m_first = first;
        m_start = start;
    }

    // Reading.
    int32_t Number() const { return m_number; }
    int32_t StreamCount() const { return m_cStreams; }
    const COggLogicalStream* Stream(int32_t i) const { return m_streams[i]; }
    const COggLogicalStream* Find(uint32_t serial) const;
    // Its own time plus this is the presentation's.
    LONGLONG Shift() const { return SatSub(m_start, m_first); }
    LONGLONG Start() const { return m_start; }
    // Its tags; null when none could be kept.
    const tags::CPresentationTags* Tags() const { return m_tags.Link(0); }

private:
    ~COggLiveLink();
    std::atomic<ULONG> m_refs{1};
    const int32_t m_number;
    const CFourccMap* m_pFourccs;
    COggLogicalStream* m_streams[kMaxLinkStreams] = {};
    int32_t m_cStreams = 0;
    CTagCollector m_tags;
    bool m_tagsBegun = false;
    LONGLONG m_first = 0; // its origin: the earliest first packet time of its media streams, in its own time
    LONGLONG m_start = 0; // where it starts on the presentation's timeline
};
