// The record of one logical stream: its codec headers, media type, page queue, page reader and the state
// of its sample production.
#pragma once
#include <ogg/ogg.h>

#include "buffer_pool.h"
#include "chain.h"
#include "codecs/codec.h"
#include "page_queue.h"
#include "sample_sink.h"
#include "stream_page_reader.h"
#include "support/am_media_type.h"

class COggSourceCore;

// One packet as sample production sees it.
struct OggPacketInfo {
    const BYTE* data = nullptr;
    LONG length = 0;
    LONGLONG start = 0, end = 0;
    bool hasTime = false;
    bool key = false;
    bool eos = false;
    LONGLONG granule = -1;
    LONG granuleDuration = 0;
};

// The first data packets of a stream before its first granule position: how many the look-back takes at most.
constexpr int32_t kMaxFirstUnits = 256; // a page completes at most 255 packets

class COggStream : public COggPageQueue {
public:
    COggStream(uint32_t serial, COggSourceCore* source);
    ~COggStream() override;

    // Discovery: one page of this stream; 1 when the stream was just given up as unknown.
    uint32_t ParseHeaderPage(ogg_page* page);
    // The granule-to-time rule of this stream's codec; -1 when it has no time.
    LONGLONG GranuleToTime(LONGLONG granule) const { return m_pCodec ? m_pCodec->GranuleTime(granule) : -1; }
    const char* OgmType() const { return m_pCodec ? m_pCodec->OgmType() : nullptr; }
    LONGLONG FrameDuration() const; // 100-ns units of one video frame; 0 when not video
    // The stream is played: its codec is media and it has a media type (it gets a media stream).
    bool IsMediaStream() const { return m_pCodec && m_pCodec->IsMedia() && m_mediaType.HasMediaType(); }
    // The first time of the stream's first data packet is known (discovery met a granule position).
    bool FirstTimeKnown() const { return !(m_headerFlags & START_TIME_PENDING) && m_firstTime != -1; }

    // Chained files: the link of the file a serial carries this stream in, -1 when it is not this stream's.
    int32_t LinkOfSerial(uint32_t serial) const;
    bool OwnsSerial(uint32_t serial) const { return serial == m_serialNo || (m_pChain && LinkOfSerial(serial) >= 0); }

    // Page reader side.
    // Queues a copy of the page; true when the read-ahead is full. *wake (when given): production should be
    // signalled, which the caller does after it has reset its own work event, so that a request for more that
    // production makes on being woken is never reset away.
    bool QueuePage(ogg_page* page, bool* wake = nullptr);
    bool FeedPage();
    bool ReadAheadFull(int32_t count, LONGLONG span, int64_t bytes) const;
    // Sample production.
    bool GetPacket(OggPacketInfo* info);
    HRESULT DeliverSamples();
    // Stops a running production loop and wakes it wherever it waits.
    void SignalStop();

    COggSourceCore* m_pSource;
    COggStreamReader m_reader;

    // Sample production state.
    BOOL m_bRunning = FALSE;
    BYTE m_bNewRun = 0; // the next production starts a new run although the stream is running (a seek)
    LONGLONG m_tStop = MaxTime;
    double m_dRate = 1.0;
    CEvent m_evRun{FALSE};
    CEvent m_evData{FALSE};
    BYTE m_bStop = 0;
    BYTE m_bDiscontinuity = 0;
    BYTE m_bNoGranuleRef = 1;
    // Where delivery resumes after a seek (presentation time): video read from the page where its key frame
    // begins may meet an earlier key frame first; it is not delivered. MinTime: anywhere.
    LONGLONG m_llFirstWanted = MinTime;
    LONGLONG m_lastPacketNo = -1;
    LONGLONG m_lastGranule = -1;
    int64_t m_lastUnits = 0; // the codec's length of the last packet (its steps of granule arithmetic)
    CLock m_csStarved;
    BOOL m_bStarved = FALSE;

    ogg_stream_state m_oggStream;
    COggCodec* m_pCodec = nullptr; // null while (or when) the stream's codec is not known
    int32_t m_queueHigh = 32;
    int32_t m_queueLow = 16;
    uint32_t m_maxSampleSize = 8192;
    BYTE m_flags = 0; // the dispatch's own bits
    uint32_t m_serialNo;
    BYTE m_selected = 1;
    CAMMediaType m_mediaType;
    IOggSampleSink* m_pStream = nullptr;
    int32_t m_codec = CODEC_UNKNOWN;
    uint32_t m_headerFlags = HEADERS_PENDING | START_TIME_PENDING;
    bool m_bIdentified = false; // the first packet has been read (its codec is known, or known not to be)
    LONGLONG m_endTime = 0;
    BOOL m_endTimeKnown = FALSE;
    LONGLONG m_startTime = 0;
    // The time of the stream's first data packet (its own timeline), worked back from the first granule
    // position over the packets completed before it on that page; -1 until known.
    LONGLONG m_firstTime = -1;

    // Chained files: what carries the stream in each link (null for a file of one link), and its last link.
    ChainLink* m_pChain = nullptr;
    int32_t m_cChain = 0;
    int32_t m_lastLink = 0;
    // Sample production's link: its codec (the stream's own in the first link) and the shift of its times.
    int32_t m_playLink = 0;
    COggCodec* m_pPlayCodec = nullptr;
    LONGLONG m_playShift = 0;

private:
    void ParsePacket(ogg_packet* packet, bool* gaveUp);
    void Identify(ogg_packet* packet, bool* gaveUp);
    void Describe();
    void StartTimeStep(const ogg_packet* packet);
    void GiveUp();

    bool Follows(const ogg_packet* packet) const;
    // The granule of the packet just taken (of `units`), worked back from the next granule position held in
    // the stream state; -1 when there is none.
    LONGLONG GranuleFromAhead(int64_t units) const;
    int64_t m_firstUnits[kMaxFirstUnits] = {}; // discovery: the data packets before the first granule position
    int32_t m_cFirstUnits = 0;
    HRESULT DeliverBuffer(const BYTE* data, DWORD length, LONGLONG time, LONGLONG duration, int cleanPoint,
                          int discontinuity);
    CBufferPool* m_pPool = nullptr; // the buffers of its samples (production's)
    HRESULT ProduceSamples();
    HRESULT Batch(IMFSample* sample);
    HRESULT FlushBatch();
    static constexpr int kBatch = 8;
    IMFSample* m_batch[kBatch] = {};
    int m_cBatch = 0;
    void InitRun();
    COggCodec* PlayCodec() const { return m_pPlayCodec ? m_pPlayCodec : m_pCodec; }
    void SwitchLink(uint32_t serial);
    LONGLONG PageTime(const ogg_page* page, LONGLONG granule) const;
};

