// The links of a chain met while reading bytes that cannot be read again: a broadcast goes from one link to the
// next for as long as it lasts, and a file read once finds its links only as it reads them. The first link's
// streams are the core's; a page that begins a stream no link has begins the next link: its streams' headers are
// read from the pages that follow (held meanwhile, within bounds), its media streams go on from the first link's
// of the same codec and major type, its times from where the link before ended. Only the link being read and the
// one being built are known here: a link lives on in the pages and the production that still read it.
#pragma once
#include "live_link.h"
#include "page_queue.h"
#include "page_sync.h"

class COggDemuxer;
class COggStream;

class CLinkFollower : public CNoThrowAlloc {
public:
    explicit CLinkFollower(COggDemuxer* core);
    ~CLinkFollower();
    // E_OUTOFMEMORY without memory for its state.
    HRESULT Init();
    CLinkFollower(const CLinkFollower&) = delete;
    CLinkFollower& operator=(const CLinkFollower&) = delete;

    // Where a page the reader read goes.
    struct Placed {
        COggStream* stream = nullptr;   // null: the page is held (a link being built) or nobody's
        LONGLONG time = -1;             // on the presentation's timeline; -1: the page has no granule position
        COggLiveLink* enters = nullptr; // the link the page enters its stream into (not held here)
    };
    // E_OUTOFMEMORY: a link could not be built (its pages are dropped, and its streams with them).
    HRESULT Place(const OggPageView& page, Placed* placed);
    // A page placed was taken by its stream: the link it entered is entered.
    void Taken(const Placed& placed);
    // A link was completed: the pages held for it, in order, to be placed again (copied into *page) before any
    // page read after them.
    bool TakeReleased(OggPageView* page);
    bool HasReleased() const { return m_release != nullptr; }
    // A new run takes pages from here on: each stream's first page enters its link again (what the run before had
    // queued, the page that entered it among them, was dropped).
    void NewRun();
    // Whether a stream's last page taken ended its stream in its link (an end-of-stream page).
    bool EndedCleanly(int32_t stream) const;

private:
    COggStream* StreamOf(uint32_t serial, const COggLogicalStream** record) const;
    HRESULT Begin(uint32_t serial, ogg_page* og);
    HRESULT Hold(const OggPageView& page);
    bool Complete() const;
    void Finish();
    LONGLONG TimeOf(const COggLogicalStream* record, LONGLONG granule) const;

    COggDemuxer* m_pCore;
    COggLiveLink* m_current = nullptr; // null: the first link (the core's streams)
    int32_t m_streamOf[kMaxLinkStreams];   // the core's stream each of the current link's streams goes on, or -1
    COggLiveLink* m_pending = nullptr;
    bool m_pendingData = false; // a page that begins no stream came for it: its beginning-of-stream pages are over
    COggPageQueue m_held;
    int32_t m_heldPages = 0;
    int64_t m_heldBytes = 0;
    PageNode* m_release = nullptr;  // the pages of a completed link, oldest first, to be placed again
    PageNode* m_released = nullptr; // the page handed out by TakeReleased, recycled on the next call
    BYTE* m_releaseCopy = nullptr;  // its bytes, whole
    LONGLONG m_lastEnd = 0;       // the latest time of a page taken in the current link
    bool* m_enter = nullptr;      // per core stream: its next page taken enters the current link
    bool* m_lastEos = nullptr;    // per core stream: its last page taken was its end-of-stream page
    int32_t m_cStreams = 0;
    static constexpr int32_t kMaxHeldPages = 512;
    static constexpr int64_t kMaxHeldBytes = 8 << 20;
};
