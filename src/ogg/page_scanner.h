// Walking the file page by page without reading what is not needed: a page's header tells its length, so
// the walk hops from header to header and reads a body only when asked. Reads go through a small cache of
// blocks, so that one search never reads the same bytes twice. Used by the open, and by the file's reader for a
// seek's search.
#pragma once
#include <cstdint>
#include <ogg/ogg.h>

#include "byte_source.h"
#include "page_walker.h"

// Lets a long run of reads stop early: the job they were for was replaced.
struct IReadCancel {
    virtual bool Superseded() = 0;

protected:
    ~IReadCancel() = default;
};

struct PageInfo {
    LONGLONG pos = -1;        // file offset of the page
    uint32_t serial = 0;
    LONGLONG granule = -1;
    BYTE flags = 0;           // header type: 1 continued, 2 first page of its stream, 4 last page
    int32_t segments = 0;
    BYTE lacing[255] = {};
    int32_t bodyLen = 0;
    int32_t HeaderLen() const { return 27 + segments; }
    LONGLONG End() const { return pos + HeaderLen() + bodyLen; }
    bool Continued() const { return flags & 1; }
    // Packets completed on the page (a lacing value below 255 ends one).
    int CompletedPackets() const { return ::CompletedPackets(lacing, segments); }
    // Whether the last packet begun on the page goes on to the next one.
    bool EndsInsidePacket() const { return segments > 0 && lacing[segments - 1] == 255; }
};

class CPageScanner {
public:
    // Over the bytes [0, length) of the source; reads stop failing once `cancel` says so.
    CPageScanner(IOggByteSource* source, LONGLONG length, IReadCancel* cancel = nullptr);
    ~CPageScanner();
    CPageScanner(const CPageScanner&) = delete;
    CPageScanner& operator=(const CPageScanner&) = delete;

    // The first page that starts at or after pos and before limit (its header checked: the next page follows
    // it, or its checksum is right); false when there is none, or a read fails.
    bool SyncAt(LONGLONG pos, LONGLONG limit, PageInfo* page);
    // The page after `page`: the one at its end when it is there, else the next one found after it.
    bool Next(const PageInfo& page, LONGLONG limit, PageInfo* next);
    // The page's body (valid until the next call).
    const BYTE* Body(const PageInfo& page);
    // n bytes of the file at pos; false when they are not all there or a read fails.
    bool Bytes(LONGLONG pos, LONGLONG n, BYTE* out) { return Read(pos, n, out); }
    LONGLONG Length() const { return m_llLength; }
    // The whole page as libogg's ogg_page (valid until the next call).
    bool Whole(const PageInfo& page, ogg_page* out);

    uint64_t Reads() const { return m_reads; }
    uint64_t BytesRead() const { return m_bytes; }

private:
    static constexpr LONGLONG kBlock = 512;
    static constexpr size_t kSlots = 2048; // 1 MB of blocks, one slot per block number modulo the count

    // n bytes at pos into out (through the cache); false when they are not all in the file or a read fails.
    bool Read(LONGLONG pos, LONGLONG n, BYTE* out);
    bool HeaderAt(LONGLONG pos, PageInfo* page);
    bool ChecksumRight(const PageInfo& page);

    IOggByteSource* m_pSource;
    IReadCancel* m_pCancel;
    LONGLONG m_llLength;
    LONGLONG* m_pSlotBlock = nullptr; // the block number each slot holds, -1 when empty
    BYTE* m_pBlocks = nullptr;
    BYTE* m_pPage = nullptr; // the last body or page read whole (at most 27 + 255 + 255 * 255 bytes)
    uint64_t m_reads = 0, m_bytes = 0;
};
