// Ogg page framing as the core reads it itself: a page header's fields, the packets its lacing values make and
// its checksum. Every part of the core that looks at pages (the reader, the packet clock, the scanner, the
// search) reads them through here; libogg is left its public calls (packet reassembly, checksums).
#pragma once
#include <cstddef>
#include <cstdint>

#include "ogg_types.h"

constexpr int32_t kPageHeaderMin = 27;
constexpr int32_t kMaxPageSize = 27 + 255 + 255 * 255;

struct OggPageHeader {
    BYTE flags = 0; // 1 continued, 2 first page of its stream, 4 last page
    LONGLONG granule = -1;
    uint32_t serial = 0;
    uint32_t sequence = 0;
    int32_t segments = 0;
    const BYTE* lacing = nullptr; // into the bytes parsed
    int32_t headerLen = 0;
    int32_t bodyLen = 0;
    bool Continued() const { return flags & 1; }
    bool FirstOfStream() const { return flags & 2; }
    bool LastOfStream() const { return flags & 4; }
    int32_t Size() const { return headerLen + bodyLen; }
};

enum class PageParse { Page, NeedMore, NotAPage };
// The header at p, of which `avail` bytes are held: its fields once all of them are there (the body need not be).
PageParse ParsePageHeader(const BYTE* p, size_t avail, OggPageHeader* header);
// Whether the checksum stored in a whole page (header and body, `size` bytes) is right.
bool PageChecksumRight(const BYTE* page, size_t size);

// One packet's part on a page: where it lies in the body, whether it begins on the page (else it is the tail of a
// packet begun before) and whether it ends there (else it goes on on the next page).
struct PacketPart {
    int32_t offset = 0;
    int32_t bytes = 0;
    bool begins = false;
    bool ends = false;
};
// The parts of packets on a page, in order (at most 255): returns their count.
int PacketParts(const BYTE* lacing, int32_t segments, bool continued, PacketPart* parts);
// Packets completed on the page (a lacing value below 255 ends one).
int CompletedPackets(const BYTE* lacing, int32_t segments);
