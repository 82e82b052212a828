// The demultiplexing core as its owner sees it: it opens an Ogg file through a byte source, tells what it found
// (the logical streams, their media types and times, the links of a chain, the duration), and plays runs: one
// reader thread reads the file and queues each stream's pages, and production, called by the owner, turns them into
// timed packets that go to the owner's sink. Nothing here waits for the owner or holds a lock while it reads.
#pragma once
#include <atomic>

#include "byte_source.h"
#include "chain.h"
#include "demux_sink.h"
#include "fourcc_map.h"
#include "ogg_stream.h"
#include "tag_collector.h"

class CPageScanner;
class CReplaySource;
class CSeekSearch;
class COggFileReader;
struct IReadCancel;

class COggDemuxer : public CNoThrowAlloc {
public:
    // The core over a byte source, with the owner's FOURCC mapping; the sink hears of streams that have data again.
    static HRESULT Create(IOggByteSource* source, const CFourccMap& fourccs, IOggDemuxSink* sink, COggDemuxer** out);
    ULONG AddRef();
    ULONG Release();

    // The open, on the caller's thread: discovery, headers, the first and last times, the links of a chain.
    HRESULT Open();

    // What the open found. The first link's logical streams in file order (media or not), and their count.
    int32_t StreamCount() const { return m_cOggStreams; }
    COggStream* Stream(int32_t index) const { return m_ppOggStreams[index]; }
    COggStream* FindStream(uint32_t serial) const;
    // The presentation's span (UnknownLength when the end is not known) and origin (streams' own time of its 0).
    LONGLONG Duration() const { return m_llSpan; }
    LONGLONG Origin() const { return m_llOrigin; }
    int32_t LinkCount() const { return m_cLinks; }
    const FileLink& Link(int32_t k) const { return m_pLinks[k]; }
    // The logical streams of link k (the first link's are the streams above).
    int32_t LinkStreamCount(int32_t k) const { return k == 0 ? m_cOggStreams : m_pLinks[k].records; }
    const COggLogicalStream& LinkStreamAt(int32_t k, int32_t i) const;
    LONGLONG FileLength() const { return m_llFileLength; }
    // The tags of link k (its streams' comment headers as the open read them); null for a link not read.
    const tags::CPresentationTags* LinkTags(int32_t k) const { return m_tags.Link(k); }

    // Runs, from the owner's dispatch. Every call returns at once; the reader acts when its read in hand returns.
    // A new run of every stream (selected or not as the owner says through Select first), read from the start
    // (start 0) or from where a search for `start` puts each stream.
    HRESULT BeginRun(DWORD run, LONGLONG start);
    // The selection changed while the run goes on (a resume): streams that join it (JoinStream first) go on from
    // `position`, where the presentation is; streams deselected take no more pages.
    void JoinStream(int32_t stream, DWORD run);
    void JoinRun(DWORD run, LONGLONG position);
    void Select(int32_t stream, bool selected) { m_ppOggStreams[stream]->Select(selected); }
    // No run: the reader stops reading.
    void StopRun();
    // The reader ends once its read in hand returns; nothing is waited for. The sink is not called any more.
    void Shutdown();

    // Production of one stream's run (on the owner's thread of choice, one at a time per stream).
    HRESULT Produce(int32_t stream, DWORD run, IOggDemuxSink* sink);

    // Used by the reader, the search and the chain code.
    COggStream* StreamOfSerial(uint32_t serial) const; // the first link's stream a page of any link belongs to
    const COggLogicalStream* FindAnyStream(uint32_t serial) const;
    const COggLogicalStream* LinkStream(uint32_t serial, int32_t link) const;
    int32_t LinkAt(LONGLONG time) const; // the link that plays at a presentation time
    IOggByteSource* Source() const { return m_pSource; }
    const CFourccMap& Fourccs() const { return m_fourccs; }
    const ByteSourceCaps& Caps() const { return m_caps; }
    IOggDemuxSink* Sink() const { return m_pSink; }
    // Where a stream's run resumes for a presentation time: the byte position to read from, the time of the page
    // there and where its delivery resumes (video: its key frame), on the presentation's timeline.
    HRESULT ResumePoint(CSeekSearch* search, COggStream* s, LONGLONG start, LONGLONG* position, LONGLONG* time,
                        LONGLONG* firstWanted);

private:
    COggDemuxer(IOggByteSource* source, const CFourccMap& fourccs, IOggDemuxSink* sink);
    ~COggDemuxer();

    // The open (discovery.cpp).
    HRESULT Discover();
    HRESULT DiscoveryScan();
    HRESULT ScanLinkStart();
    bool HeadersPending() const;
    HRESULT AddStream(uint32_t serial, COggStream** stream);
    int32_t CountUndescribed() const;
    void FirstTimeScan();
    LONGLONG CommentDurations(int32_t* unknownEnds);
    HRESULT EndScan(int32_t link, LONGLONG from, LONGLONG to, int32_t* unknownEnds, LONGLONG* end, int64_t* tail);
    HRESULT EndTimes(LONGLONG* end);
    LONGLONG FindOrigin() const;
    void FreeStreams();
    HRESULT StartReader();
    // A run ends its streams at the presentation's end, when it is known (a stated duration may be shorter).
    LONGLONG StopTime() const { return m_llSpan < UnknownLength ? m_llSpan : MaxTime; }
    // Chains (chain.cpp).
    HRESULT InitLinks();
    HRESULT FindLinks();
    LONGLONG LinkEnd(CPageScanner* scan, int32_t link, LONGLONG from, bool tailKnown);
    HRESULT AddLinkRecord(uint32_t serial, COggLogicalStream** out);
    HRESULT DiscoverLink(CPageScanner* scan, int32_t link, LONGLONG begin);
    void MatchLink(int32_t link);
    HRESULT TimeLinks(LONGLONG firstEnd);
    void FreeLinks();
    HRESULT ChainedResume(CSeekSearch* search, COggStream* s, LONGLONG start, LONGLONG* position, LONGLONG* time,
                          LONGLONG* firstWanted);
    // A stream's own search: the page for an own-time target.
    HRESULT SearchStream(CSeekSearch* search, const COggLogicalStream* record, LONGLONG target, LONGLONG* position,
                         LONGLONG* time, LONGLONG* firstWanted);

    std::atomic<ULONG> m_refCount{1};
    IOggByteSource* m_pSource;
    CReplaySource* m_pReplay = nullptr; // m_pSource itself when the bytes cannot be read again
    IOggDemuxSink* m_pSink;
    CFourccMap m_fourccs;
    ByteSourceCaps m_caps;
    LONGLONG m_llFileLength = UnknownLength;
    COggStream** m_ppOggStreams = nullptr;
    int32_t m_cOggStreams = 0;
    LONGLONG m_llOrigin = 0;
    LONGLONG m_llSpan = 0;
    LONGLONG m_llDiscovered = 0; // where discovery stopped taking pages
    CTagCollector m_tags;        // the links' tags, filled by the open
    // The file's links (one for a file that is not chained), and the streams of the links after the first.
    FileLink* m_pLinks = nullptr;
    int32_t m_cLinks = 0;
    COggLogicalStream** m_ppLinkRecords = nullptr;
    int32_t m_cLinkRecords = 0;
    // Made by the first run (the dispatch), read by production on other threads.
    std::atomic<COggFileReader*> m_pReader{nullptr};
    // Bytes over a network (or slow to seek in): the open reads bounded windows only.
    bool SlowBytes() const { return m_caps.remote || m_caps.slowSeek; }
    // How far past discovery (or a link's start) a first time is looked for: 16 MB, 1 MB over a network.
    LONGLONG FirstTimeSpan() const { return SlowBytes() ? kSlowFirstTimeSpan : kFirstTimeSpan; }
    static constexpr LONGLONG kFirstTimeSpan = 16 << 20;
    static constexpr LONGLONG kSlowFirstTimeSpan = 1 << 20;
};
