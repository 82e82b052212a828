#include "page_walker.h"

#include <cstring>

#include "page_checksum.h"

PageParse ParsePageHeader(const BYTE* p, size_t avail, OggPageHeader* h) {
    if (avail < 4) return std::memcmp(p, "OggS", avail) == 0 ? PageParse::NeedMore : PageParse::NotAPage;
    if (std::memcmp(p, "OggS", 4) != 0) return PageParse::NotAPage;
    if (avail < static_cast<size_t>(kPageHeaderMin)) return PageParse::NeedMore;
    if (p[4] != 0) return PageParse::NotAPage; // only version 0 exists
    const int32_t segments = p[26];
    if (avail < static_cast<size_t>(kPageHeaderMin + segments)) return PageParse::NeedMore;
    h->flags = p[5];
    h->granule = ReadLE64(p + 6);
    h->serial = ReadLE32(p + 14);
    h->sequence = ReadLE32(p + 18);
    h->segments = segments;
    h->lacing = p + kPageHeaderMin;
    h->headerLen = kPageHeaderMin + segments;
    h->bodyLen = 0;
    for (int32_t i = 0; i < segments; ++i) h->bodyLen += h->lacing[i];
    return PageParse::Page;
}

bool PageChecksumRight(const BYTE* page, size_t size) {
    if (size < static_cast<size_t>(kPageHeaderMin) || size > static_cast<size_t>(kMaxPageSize)) return false;
    const size_t headerLen = static_cast<size_t>(kPageHeaderMin + page[26]);
    if (headerLen > size) return false;
    return OggPageChecksum(page, headerLen, page + headerLen, size - headerLen) == ReadLE32(page + 22);
}

int PacketParts(const BYTE* lacing, int32_t segments, bool continued, PacketPart* parts) {
    int n = 0;
    int32_t offset = 0;
    PacketPart part;
    part.begins = !continued;
    for (int32_t i = 0; i < segments; ++i) {
        part.bytes += lacing[i];
        offset += lacing[i];
        if (lacing[i] < 255) {
            part.ends = true;
            parts[n++] = part;
            part = PacketPart{};
            part.offset = offset;
            part.begins = true;
        }
    }
    if (part.bytes > 0) parts[n++] = part; // made of 255s: it goes on on the next page
    return n;
}

int CompletedPackets(const BYTE* lacing, int32_t segments) {
    int n = 0;
    for (int32_t i = 0; i < segments; ++i) n += lacing[i] < 255;
    return n;
}
