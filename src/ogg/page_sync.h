// Finding whole pages in bytes read one after the other from a known file position: a page is taken only when
// its checksum is right, so bytes that are no page (junk, a capture pattern inside data, a damaged page) are
// passed over and counted. Each page comes with its file offset.
#pragma once
#include <ogg/ogg.h>

#include "page_walker.h"
#include "support/alloc.h"

struct OggPageView {
    LONGLONG offset = -1; // in the file
    OggPageHeader header;
    const BYTE* data = nullptr; // header and body, header.Size() bytes; valid until the sync changes
};

// The view as libogg's page, over the same bytes (valid as long as they are).
inline ogg_page AsOggPage(const OggPageView& v) {
    ogg_page og;
    og.header = const_cast<BYTE*>(v.data);
    og.header_len = v.header.headerLen;
    og.body = const_cast<BYTE*>(v.data + v.header.headerLen);
    og.body_len = v.header.bodyLen;
    return og;
}

class CPageSync : public CNoThrowAlloc {
public:
    CPageSync() = default;
    ~CPageSync();
    CPageSync(const CPageSync&) = delete;
    CPageSync& operator=(const CPageSync&) = delete;

    // Empty; the next bytes written are those of the file at `position`.
    void Reset(LONGLONG position);
    // Room for `n` more bytes after those held (what was taken is dropped when that room is short); null when out
    // of memory.
    BYTE* Space(size_t n);
    void Wrote(size_t n);

    // The next whole page; false when more bytes are needed for it.
    bool Next(OggPageView* page);
    // The header of the page that begins at Position() when its header is held but not all of its body: a reader
    // that does not want the page may go on from its end without reading the body.
    bool PendingHeader(OggPageHeader* header);
    // Drops what is held and goes on at `position` (past a page whose body was not read).
    void SkipTo(LONGLONG position) { Reset(position); }

    LONGLONG Position() const { return m_base + static_cast<LONGLONG>(m_begin); } // first byte not taken yet
    LONGLONG End() const { return m_base + static_cast<LONGLONG>(m_end); }        // just after the bytes held
    uint64_t Skipped() const { return m_skipped; }

private:
    static constexpr size_t kRoomFor = 4; // writes of the size asked that a grown buffer has room for
    BYTE* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_begin = 0, m_end = 0;
    LONGLONG m_base = 0; // the file offset of m_data[0]
    uint64_t m_skipped = 0;
};
