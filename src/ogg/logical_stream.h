// A logical stream as the open finds it: its serial number, its codec and headers, its media type and limits,
// the times of its first and last packets, and, in a chained file, what carries it in each link.
#pragma once
#include <ogg/ogg.h>

#include "chain.h"
#include "codecs/codec.h"
#include "support/am_media_type.h"

class CFourccMap;

// The first data packets of a stream before its first granule position: how many the look-back takes at most.
constexpr int32_t kMaxFirstUnits = 256; // a page completes at most 255 packets
// A granule position whose time lies more than this (100-ns units) beyond or before what the stream's packets since
// its last good granule allow is a runaway (a damaged file's): its time is derived from its neighbours instead.
constexpr LONGLONG kRunawaySpan = 600000000; // 60 s: no audio or video stream pauses that long between two pages

class COggLogicalStream : public CNoThrowAlloc {
public:
    COggLogicalStream(uint32_t serial, const CFourccMap* fourccs);
    ~COggLogicalStream();
    COggLogicalStream(const COggLogicalStream&) = delete;
    COggLogicalStream& operator=(const COggLogicalStream&) = delete;

    // The open: one page of this stream; true when the stream was just given up as not understood.
    bool ParseHeaderPage(ogg_page* page);
    // Discovery no longer waits for this stream (it is not media, or not understood).
    bool HeadersPending() const { return m_headerFlags & HEADERS_PENDING; }
    bool StartTimePending() const { return m_headerFlags & START_TIME_PENDING; }
    bool Identified() const { return m_bIdentified; }
    bool HasHeaders() const { return m_headerFlags != 0; }

    uint32_t Serial() const { return m_serialNo; }
    int32_t CodecKind() const { return m_codec; }
    const COggCodec* Codec() const { return m_pCodec; }
    COggCodec* Codec() { return m_pCodec; }
    const CAMMediaType& MediaType() const { return m_mediaType; }
    uint32_t MaxSampleSize() const { return m_maxSampleSize; }
    int32_t QueueHigh() const { return m_queueHigh; }
    int32_t QueueLow() const { return m_queueLow; }
    // The granule-to-time rule of this stream's codec; -1 when it has no time.
    LONGLONG GranuleToTime(LONGLONG granule) const { return m_pCodec ? m_pCodec->GranuleTime(granule) : -1; }
    const char* OgmType() const { return m_pCodec ? m_pCodec->OgmType() : nullptr; }
    LONGLONG FrameDuration() const; // 100-ns units of one video frame; 0 when not video
    bool IsVideo() const { return IsEqualGUID(m_mediaType.majortype, MEDIATYPE_Video) != FALSE; }
    // The stream is played: its codec is media and it has a media type (it gets a media stream).
    bool IsMediaStream() const { return m_pCodec && m_pCodec->IsMedia() && m_mediaType.HasMediaType(); }
    // Discovery waits for it: a media stream without its type yet, or a stream whose first packet was not read.
    bool Undescribed() const;

    // Times in the stream's own timeline: the first data packet's (worked back from the first granule position
    // over the packets completed before it on that page; -1 until known), the first granule position's, the last.
    LONGLONG FirstTime() const { return m_firstTime; }
    bool FirstTimeKnown() const { return !StartTimePending() && m_firstTime != -1; }
    LONGLONG StartTime() const { return m_startTime; }
    LONGLONG EndTime() const { return m_endTime; }
    bool EndTimeKnown() const { return m_endTimeKnown; }
    void ForgetEnd();
    // An end met (a page's time): the latest stays. True when it was the first end known.
    bool NoteEnd(LONGLONG time);
    // A page's time met by the end scan, in file order within the scan's window `window` (a number that changes
    // from window to window); `others`: the latest time of the other streams' pages before it in the window (-1:
    // none). A page more than kRunawaySpan beyond the stream's page before it in the window (or, the first, beyond
    // `others`) is a runaway: false, and it is no end. One that falls that far back from the page before shows
    // that page was. *first: the first end known of the stream.
    bool NoteEndPage(int32_t window, LONGLONG time, LONGLONG others, bool* first);
    // The end scan's window held a runaway page of this stream; the end its packets give, timed as playback times
    // them (from their neighbours), then replaces what the window's pages gave (true: the first end known).
    bool RunawayInWindow(int32_t window) const { return m_scanWindow == window && m_scanRunaway; }
    bool NoteClockedEnd(LONGLONG time);
    // Times of this stream come far apart by nature (subtitles): no granule of it is a runaway.
    bool SparseTimes() const { return IsEqualGUID(m_mediaType.majortype, MEDIATYPE_Text) != FALSE; }

    // Chained files: what carries the stream in each link (none for a file of one link), and its last link.
    HRESULT JoinChain(int32_t links);
    void CarryInLink(int32_t link, COggLogicalStream* record);
    bool Chained() const { return m_pChain != nullptr; }
    const ChainLink& InLink(int32_t link) const { return m_pChain[link]; }
    // The stream that carries this one in link k (itself in a file of one link).
    const COggLogicalStream* InLinkOrSelf(int32_t link) const { return m_pChain ? m_pChain[link].record : this; }
    int32_t LastLink() const { return m_lastLink; }
    // The link of the file a serial carries this stream in, -1 when it is not this stream's.
    int32_t LinkOfSerial(uint32_t serial) const;
    bool OwnsSerial(uint32_t serial) const { return serial == m_serialNo || (m_pChain && LinkOfSerial(serial) >= 0); }

private:
    void ParsePacket(ogg_packet* packet, bool* gaveUp);
    void Identify(ogg_packet* packet, bool* gaveUp);
    void Describe();
    void StartTimeStep(const ogg_packet* packet);
    void GiveUp();

    const uint32_t m_serialNo;
    const CFourccMap* m_pFourccs;
    ogg_stream_state m_headerState; // the open's reassembly of the header pages
    COggCodec* m_pCodec = nullptr;  // null while (or when) the stream's codec is not known
    int32_t m_codec = CODEC_UNKNOWN;
    uint32_t m_headerFlags = HEADERS_PENDING | START_TIME_PENDING;
    bool m_bIdentified = false; // the first packet has been read (its codec is known, or known not to be)
    CAMMediaType m_mediaType;
    uint32_t m_maxSampleSize = 8192;
    int32_t m_queueHigh = 32;
    int32_t m_queueLow = 16;
    LONGLONG m_startTime = 0;
    LONGLONG m_firstTime = -1;
    LONGLONG m_endTime = 0;
    bool m_endTimeKnown = false;
    // The end scan's window: its number, the end known before it, and its pages' end and last good time so far.
    int32_t m_scanWindow = -1;
    LONGLONG m_scanPriorEnd = -1, m_scanEnd = -1, m_scanRef = -1;
    bool m_scanRunaway = false;
    int64_t m_firstUnits[kMaxFirstUnits] = {}; // the data packets before the first granule position
    int32_t m_cFirstUnits = 0;
    ChainLink* m_pChain = nullptr;
    int32_t m_cChain = 0;
    int32_t m_lastLink = 0;
};
