// The record of one logical stream: its codec headers, media type, page queue, page reader and the state
// of its sample production.
#pragma once
#include <ogg/ogg.h>
#include <theora/theora.h>
#include <vorbis/codec.h>

#include "page_queue.h"
#include "sample_sink.h"
#include "stream_page_reader.h"
#include "support/am_media_type.h"

class COggSourceCore;

struct SavedPacket {
    BYTE* data = nullptr;
    LONG bytes = 0;
    LONG bos = 0, eos = 0;
    LONGLONG granulepos = 0;
    LONGLONG packetno = 0;
};

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

class COggStream : public COggPageQueue {
public:
    COggStream(uint32_t serial, COggSourceCore* source);
    ~COggStream() override;

    // Discovery: one page of this stream; 1 when the stream was just given up as unknown.
    uint32_t ParseHeaderPage(ogg_page* page);
    // Converts the DirectShow-embedded first packet into an OGM stream header; 0 on success.
    static int ConvertDirectShowHeader(const ogg_packet* packet, BYTE** header, size_t* size);
    // The granule-to-time rule of this stream's codec; -1 when it has no time.
    LONGLONG GranuleToTime(LONGLONG granule) const;
    bool IsOgmType(const char* type) const;
    LONGLONG FrameDuration() const; // 100-ns units of one video frame; 0 when not video

    // Page reader side.
    bool QueuePage(ogg_page* page);
    bool FeedPage();
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
    LONGLONG m_lastPacketNo = -1;
    LONGLONG m_lastGranule = -1;
    LONG m_lastDuration = 0;
    CLock m_csStarved;
    BOOL m_bStarved = FALSE;

    ogg_stream_state m_oggStream;
    BYTE* m_pOgmHeader = nullptr;
    size_t m_cbOgmHeader = 0;
    vorbis_comment m_vorbisComment;
    theora_comment m_theoraComment;
    theora_state m_theoraState;
    bool m_theoraReady = false; // theora_decode_init succeeded: granule times can be asked
    SavedPacket m_vorbisHeaders[3];
    SavedPacket m_theoraHeaders[3];
    vorbis_info m_vorbisInfo;
    theora_info m_theoraInfo;
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
    LONGLONG m_endTime = 0;
    BOOL m_endTimeKnown = FALSE;
    LONGLONG m_startTime = 0;

private:
    void ParsePacket(ogg_packet* packet, bool* gaveUp);
    void ParseIdentification(ogg_packet* packet, bool* gaveUp);
    void ParseTheoraPacket(ogg_packet* packet, bool* gaveUp);
    void StartTimeStep(const ogg_packet* packet);
    void GiveUp();
    static bool SavePacket(SavedPacket* slot, const ogg_packet* packet);

    bool TakePacket(ogg_packet* packet);
    bool TimeVorbis(ogg_packet* packet, OggPacketInfo* info);
    bool TimeTheora(ogg_packet* packet, OggPacketInfo* info);
    bool TimeOgm(ogg_packet* packet, OggPacketInfo* info);
    bool Follows(const ogg_packet* packet) const;
    bool LookAhead(LONG* count, LONGLONG* granule) const;
    LONGLONG AdvanceGranule(LONGLONG g, LONGLONG n) const;
    LONGLONG FirstFrameGranule() const;
    HRESULT DeliverBuffer(const BYTE* data, DWORD length, DWORD capacity, LONGLONG time, LONGLONG duration,
                          int cleanPoint, int discontinuity);
    void InitRun();
};
