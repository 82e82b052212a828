// A stream's page reader: a worker thread that reads the file from its own position, keeps only its
// stream's pages and queues them with their times, sleeping while the read-ahead is full.
#pragma once
#include <atomic>
#include <ogg/ogg.h>

#include "ogg_types.h"
#include "support/am_thread.h"

class COggStream;
class CSeekSearch;

enum : DWORD { ReaderRun = 1, ReaderStop = 2, ReaderExit = 3 };

struct SeekCache {
    BOOL valid = FALSE;
    const COggStream* record = nullptr;
    LONGLONG position = 0;
    LONGLONG target = 0;
    LONGLONG time = 0;
    LONGLONG firstWanted = MinTime;
};

class COggStreamReader : public CAMThread {
public:
    explicit COggStreamReader(COggStream* owner);
    ~COggStreamReader() override;

    void ReadStep();
    // Bytes of foreign pages to skip in the file after what the sync state holds (0 or more). A page is the
    // stream's own when of its serial, or, in a chained file, of a serial that carries the stream in a link.
    static LONGLONG SkipForeignPages(ogg_sync_state* sync, uint32_t serial, const COggStream* chained = nullptr);
    // Moves the reader to a byte position with an empty sync state.
    void SetPosition(LONGLONG position);
    bool EndOfFile();
    LONGLONG Position();
    // The byte position to read from for a target (the search of a seek, shared by every stream's reader).
    // *firstWanted: where the stream's delivery resumes (video: the key frame's start), MinTime for anywhere.
    // record: the stream record searched (in a chained file, the one of the link the target falls in).
    HRESULT FindPagePosition(CSeekSearch* search, COggStream* record, LONGLONG target, LONGLONG limit, LONGLONG* time,
                             LONGLONG* firstWanted);
    void InvalidateSeekCache() { m_seekCache.valid = FALSE; }

    ogg_sync_state m_sync;
    LONGLONG m_llPosition = 0;
    // Written under m_lock; read without it by production, which must not wait while the reader holds its lock
    // over a read of the file.
    std::atomic<BYTE> m_bEndOfFile{0};
    CEvent m_evWork{TRUE};
    CLock m_lock;
    COggStream* m_pOwner;
    SeekCache m_seekCache;

protected:
    DWORD WorkerMain() override;

private:
    void EndOfData();
    LONGLONG ReadSize();
};
