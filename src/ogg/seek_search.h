// The search behind a seek: for each stream, the byte position to read from so that its first sample is at or
// just before the target. One search serves every stream of a seek and shares its reads (a page scanner).
//
//   audio, text, uncompressed video: the stream's last page whose time is at or before the target;
//   Theora: the page before the one where the target frame's key frame begins (the granule names the key
//           frame, so that page is found by a second search, in O(log n));
//   other compressed video (the OGM family): the page where the last key frame at or before the target
//           begins, looked for backwards from the target's page in windows that grow.
#pragma once
#include "page_scanner.h"

class COggDemuxer;
class COggLogicalStream;

class CSeekSearch {
public:
    CSeekSearch(COggDemuxer* core, IReadCancel* cancel = nullptr);

    // target and limit in the streams' own time; *time: the time of the page found (for the read-ahead);
    // *firstWanted: video, the start of the key frame to resume at (packets before it, key frames of the
    // page read first included, are not delivered); MinTime otherwise.
    HRESULT Position(const COggLogicalStream* s, LONGLONG target, LONGLONG limit, LONGLONG* position, LONGLONG* time,
                     LONGLONG* firstWanted);

    // The bytes searched (the whole file unless set: a chained file's link).
    void SetRange(LONGLONG begin, LONGLONG end) {
        m_begin = begin;
        m_end = end;
    }
    LONGLONG Begin() const { return m_begin; }
    LONGLONG End() const { return m_end; }

    uint64_t Reads() const { return m_scan.Reads(); }
    uint64_t BytesRead() const { return m_scan.BytesRead(); }

private:
    // Whether an own page belongs before the target: its granule's time (or frame) at or before it.
    struct Before {
        LONGLONG time = 0;   // page time at or before this
        LONGLONG frame = -1; // or, when not -1: last frame of the page below this (Theora key frames)
    };
    bool IsBefore(const COggLogicalStream* s, const Before& b, LONGLONG granule) const;

    // The last own page with a granule that is before (best), and the first own timed page after it (next,
    // pos -1 when the stream has none). False when the stream has no page before.
    bool LastPageBefore(const COggLogicalStream* s, const Before& b, LONGLONG hiPos, LONGLONG hiTime, PageInfo* best, PageInfo* next);
    bool Probe(const COggLogicalStream* s, const Before& b, LONGLONG from, LONGLONG hi, PageInfo* found, bool* before);
    void WalkOn(const COggLogicalStream* s, const Before& b, LONGLONG from, PageInfo* best, PageInfo* next);

    struct KeyFound {
        LONGLONG pos = -1;   // the page where the key frame begins
        LONGLONG start = -1; // when it starts (own time), -1 when that cannot be told
    };
    struct BegunList {
        int n = 0;
        bool key[255];
        bool completed[255];
        LONGLONG start[255];
        LONGLONG nextStart = -1; // when the packet after the last completed one starts, -1 when not known
    };
    void Begun(const COggLogicalStream* s, const PageInfo& page, LONGLONG openStart, BegunList* out);
    KeyFound NearKey(const COggLogicalStream* s, LONGLONG target, const PageInfo& best, const PageInfo& next, bool ogm);
    KeyFound KeyBefore(const COggLogicalStream* s, LONGLONG before);
    // The packets that begin on the page (after a continued packet's tail), in order: the first byte, the file
    // offset and the bytes on this page of each.
    struct Starts {
        int n = 0;
        BYTE first[255];
        LONGLONG at[255];
        LONGLONG size[255];
    };
    void PacketStarts(const PageInfo& page, Starts* out);
    // The start granule of each packet that begins on an OGM page (-1 where it cannot be told); the return:
    // the granule of the packet after the last completed one.
    LONGLONG StartGranules(const COggLogicalStream* s, const PageInfo& page, const Starts& st, LONGLONG* granules);

    COggDemuxer* m_pCore;
    CPageScanner m_scan;
    LONGLONG m_pageSize = 4096; // the size of the pages probes meet, averaged
    LONGLONG m_begin = 0, m_end = 0;
};
