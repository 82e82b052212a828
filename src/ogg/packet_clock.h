// A stream's packets out of its pages, each with its time. libogg reassembles them; the codec gives each packet
// its length in granule steps. A packet without a granule position takes one from the packet before it, or, with
// none to follow (the start of a run, after a hole), is timed back from the next granule position among the
// packets already reassembled. A granule position far from what the packets before it allow (kRunawaySpan) is
// taken for none.
#pragma once
#include <ogg/ogg.h>

#include "live_link.h"
#include "logical_stream.h"

// One packet as production sees it.
struct OggPacketInfo {
    const BYTE* data = nullptr; // the payload (what goes into the sample); valid until the clock is fed a page
    LONG length = 0;
    LONGLONG start = 0, end = 0; // on the presentation's timeline
    bool hasTime = false;
    bool key = false;
    bool eos = false; // the stream's last packet (in a chained file, of its last link)
};

class COggPacketClock {
public:
    explicit COggPacketClock(const COggLogicalStream* stream);
    ~COggPacketClock();
    COggPacketClock(const COggPacketClock&) = delete;
    COggPacketClock& operator=(const COggPacketClock&) = delete;

    // Where the presentation's timeline is: its origin and, for a chained file, its links. Set after the open.
    void SetTimeline(const FileLink* links, LONGLONG origin);
    // Bytes read once: the stream goes from link to link as pages bring them (Feed's `link`), a packet's end of
    // stream does not end it (another link may follow), and a new run goes on in the link it is in.
    void ReadOnce() { m_readOnce = true; }
    // A new run: nothing held, no packet to follow; the first link's codec (read once: the link's it is in).
    void Restart();
    // A page of the stream. In a chained file a page of another link's serial switches to that link first (its
    // codec and its times' shift), as does a page that brings a link read once (`link`); *switched says so.
    // MF_E_INVALID_FILE_FORMAT: the page makes a packet larger than a stream may have (the page is not taken).
    HRESULT Feed(ogg_page* page, COggLiveLink* link, bool* switched);
    // The next packet that can be timed (or is delivered untimed); false when a page must be fed first.
    bool Next(OggPacketInfo* info);
    // Whether libogg met a hole in the stream's pages (their sequence numbers jumped) since the last call.
    bool TakeHole() {
        const bool hole = m_bHole;
        m_bHole = false;
        return hole;
    }
    // The link production is in, and its codec; the stream that carries this one there (null in a file of one link).
    int32_t Link() const { return m_link; }
    const COggCodec* Codec() const { return m_pCodec; }
    const COggLogicalStream* LinkRecord() const;
    // The link read once production is in (null: the first link).
    COggLiveLink* LiveLink() const { return m_pLive; }

private:
    bool Take(ogg_packet* packet);
    bool Follows(const ogg_packet& packet) const { return packet.packetno == m_lastPacketNo + 1 && !m_bNoReference; }
    void Remember(const ogg_packet& packet, LONGLONG granule, int64_t units);
    // The granule a packet of `units` steps carries lies far outside what the last granule and the packets since allow.
    bool Runaway(LONGLONG granule, int64_t units) const;
    void SwitchLink(uint32_t serial);
    void EnterLink(COggLiveLink* link, uint32_t serial);
    void ResetReassembly(uint32_t serial);
    LONGLONG ShiftOf(int32_t link) const;
    // The granule of the packet just taken (of `units`), worked back from the next granule position among the
    // packets reassembled after it; those packets are kept to be handed out next. -1 when there is none.
    LONGLONG GranuleFromAhead(int64_t units);

    const COggLogicalStream* m_pStream;
    ogg_stream_state m_state;
    const COggCodec* m_pCodec;
    int32_t m_link = 0;
    const FileLink* m_pLinks = nullptr;
    LONGLONG m_origin = 0;
    LONGLONG m_shift = 0; // the link's own time plus this is the presentation's
    LONGLONG m_lastPacketNo = -1;
    LONGLONG m_lastGranule = -1;
    int64_t m_lastUnits = 0; // the codec's length of the last packet (its steps of granule arithmetic)
    bool m_bNoReference = true;
    // Packets taken ahead by the look-back, handed out before anything else (their bytes stay in libogg's buffer
    // until the next page is fed, which happens only once they are all out).
    ogg_packet m_ahead[kMaxFirstUnits];
    int32_t m_cAhead = 0, m_nextAhead = 0;
    bool m_bAheadEndsAtHole = false; // libogg met a hole after them: nothing beyond reaches back
    uint32_t m_serial;               // of the link being read
    bool m_bHole = false;
    int64_t m_openBytes = 0; // the packet the pages fed so far leave unfinished
    bool m_readOnce = false;
    COggLiveLink* m_pLive = nullptr; // the link read once production is in (held); null: the first link
};
