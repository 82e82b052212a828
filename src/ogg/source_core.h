// The part of the media source that the demultiplexing core works with: the file, its logical streams,
// the discovery of them, the read locks and the seeking state. The media source derives from it.
#pragma once
#include <atomic>
#include <ogg/ogg.h>

#include "chain.h"
#include "ogg_stream.h"
#include "registry_stuff.h"
#include "seeking.h"
#include "stream_reader.h"

enum SourceState : int32_t {
    SourceStopped = 0,
    SourcePaused = 1,
    SourceStarted = 2,
    SourceInvalid = 3,
    SourceOpening = 4,
    SourceShutdown = 5,
};

class CPageScanner;
class CSeekSearch;

class COggSourceCore : public CRegistryStuff, public CSeeking {
public:
    COggSourceCore();
    ~COggSourceCore() override;

    // CSeeking, over the core's members.
    HRESULT GetCurrentPosition(LONGLONG* position) override;
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT ApplyPositions() override;
    HRESULT FramesToTime(LONGLONG frames, LONGLONG* time) override;
    HRESULT TimeToFrames(LONGLONG time, LONGLONG* frames) override;
    BOOL HasVideoStream() override;
    void StoreStart(LONGLONG start) override;
    void InvalidateApplied();
    void SetReaderPositions(LONGLONG position);
    COggStream* FindStream(uint32_t serial);
    // A stream of any link (chain.cpp); the stream of serial in link `link`.
    COggStream* FindAnyStream(uint32_t serial);
    COggStream* LinkStream(uint32_t serial, int32_t link);
    // The link that plays at a presentation time.
    int32_t LinkAt(LONGLONG time) const;
    // The start, stop and rate a new run reads, taken together under the seeking lock.
    void ReadRunPositions(LONGLONG* start, LONGLONG* stop, double* rate);
    void StoreRate(double rate);
    double CurrentRate();
    // Every reader to the page for start (bisection), the page-queue times to the times found.
    HRESULT PositionReaders(LONGLONG start, LONGLONG stop);
    // The same for a media stream of a chained file (chain.cpp); *time and *firstWanted as the first link's.
    HRESULT ChainedPosition(CSeekSearch* search, COggStream* s, LONGLONG start, LONGLONG stop, LONGLONG* time,
                            LONGLONG* firstWanted);

    // A read through the source's reader under the read lock, which also guards the reader's release;
    // E_FAIL once the source has been shut down.
    HRESULT LockedRead(LONGLONG position, LONG length, BYTE* buffer);
    bool HasReader();
    void ReleaseReader();

    // The end of the data was met by a failing read: the file ended for every stream.
    void SetFileEnded(bool ended);
    bool FileEnded();
    // Called on a reader thread when a read failed: the active media streams must be ended. The reader
    // may not wait for the source lock (the operation thread may hold it while it waits for this very
    // reader), so the owner does this asynchronously.
    virtual void OnReadFailure() = 0;
    // Makes the media stream of a logical stream (one per identifier's low 8 bits).
    virtual HRESULT CreateMediaStream(COggStream* stream, uint32_t id) = 0;
    virtual uint32_t MediaStreamCount() = 0;

    CLock m_lock; // the source lock
    std::atomic<int32_t> m_state{SourceInvalid};
    StreamReader* m_pReader = nullptr;
    std::atomic<bool> m_bHasReader{false};
    LONGLONG m_llFileLength = 0;
    ogg_sync_state m_sync;
    COggStream** m_ppOggStreams = nullptr;
    int32_t m_cOggStreams = 0;
    LONGLONG m_llFirstStart = 0;
    // The presentation's origin, in the streams' own timeline: the earliest time of a first data packet of any
    // media stream (0 when it would be below 0). Sample times, the duration and positions count from it.
    LONGLONG m_llOrigin = 0;
    LONGLONG m_llSpan = 0;
    // The file's links (one for a file that is not chained), and the streams of the links after the first.
    FileLink* m_pLinks = nullptr;
    int32_t m_cLinks = 0;
    COggStream** m_ppLinkRecords = nullptr;
    int32_t m_cLinkRecords = 0;
    CLock m_csRead;
    CLock m_csSeeking;
    CLock m_csFileEnded;
    BOOL m_bFileEnded = FALSE;
    // Set by Shutdown before it takes the source lock: every wait of a sample loop watches it too, so a
    // shutdown during playback never waits for a loop that waits for data.
    CEvent m_evShutdown{TRUE};

protected:
    // The open up to the presentation descriptor: discovery, media streams, start and end times, rewound
    // readers, seeking state. *shutDown says whether a failure must shut the source down.
    HRESULT Discover(IMFByteStream* stream, bool* shutDown);
    void FreeStreams();

private:
    HRESULT DiscoveryScan(LONGLONG length, bool lengthKnown);
    HRESULT AddStream(uint32_t serial, COggStream** stream);
    int32_t CountUndescribed();
    LONGLONG CommentDurations(int32_t* unknownEnds);
    // The media streams' last times in link `link`, read backwards from `to` down to `from`.
    // *tail: the serial of the last page met in the first window, the one closest to `to` (unchanged when none).
    HRESULT EndScan(int32_t link, LONGLONG from, LONGLONG to, int32_t* unknownEnds, LONGLONG* end,
                    int64_t* tail = nullptr);
    HRESULT EndTimes(bool lengthKnown, LONGLONG* end);
    // Chains (chain.cpp).
    HRESULT InitLinks();
    HRESULT FindLinks();
    LONGLONG LinkEnd(CPageScanner* scan, int32_t link, LONGLONG from, bool tailKnown);
    HRESULT AddLinkRecord(uint32_t serial, COggStream** out);
    HRESULT DiscoverLink(CPageScanner* scan, int32_t link, LONGLONG begin);
    HRESULT MatchLink(int32_t link);
    HRESULT TimeLinks(LONGLONG firstEnd);
    void FreeLinks();
    LONGLONG Origin() const;
    void FirstTimeScan();
    static constexpr LONGLONG kFirstTimeSpan = 16 << 20; // how far past discovery a first time is looked for
    LONGLONG m_llDiscovered = 0;                         // where discovery stopped taking pages
    static void NoteEndTime(COggStream* s, LONGLONG t, int32_t* unknownEnds, LONGLONG* end);
};
