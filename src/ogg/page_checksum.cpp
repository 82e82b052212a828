// The page checksum (page_checksum.h). Every byte the reader hands on is checked, so this is the reader's largest
// cost: where ISA-L is there (its carry-less multiply kernels, chosen for the processor at run time) it computes
// the checksum; elsewhere (the Windows build) libogg's table code does.
#include "page_checksum.h"

#include <cstring>

#ifdef OGGSOURCE_HAVE_ISAL
#include <isa-l/crc.h>
#else
#include <ogg/ogg.h>
#endif

namespace {
constexpr size_t kChecksumAt = 22; // the field's place in the header, four bytes
} // namespace

#ifdef OGGSOURCE_HAVE_ISAL
// ISA-L's crc32_ieee inverts the value it starts from and the one it returns: starting from ~0 and inverting the
// result gives the Ogg checksum, and a running value chains from one call to the next as it is.
uint32_t OggPageChecksum(const uint8_t* header, size_t headerLen, const uint8_t* body, size_t bodyLen) {
    static const uint8_t zero[4] = {};
    uint32_t crc = crc32_ieee(~0u, header, kChecksumAt);
    crc = crc32_ieee(crc, zero, sizeof zero);
    crc = crc32_ieee(crc, header + kChecksumAt + 4, headerLen - kChecksumAt - 4);
    crc = crc32_ieee(crc, body, bodyLen);
    return ~crc;
}
#else
// libogg computes the checksum over a header whose field is zero, and writes it there: a copy of the header gets it.
uint32_t OggPageChecksum(const uint8_t* header, size_t headerLen, const uint8_t* body, size_t bodyLen) {
    uint8_t copy[27 + 255];
    if (headerLen > sizeof copy) return 0;
    std::memcpy(copy, header, headerLen);
    ogg_page og;
    og.header = copy;
    og.header_len = static_cast<long>(headerLen);
    og.body = const_cast<uint8_t*>(body);
    og.body_len = static_cast<long>(bodyLen);
    ogg_page_checksum_set(&og);
    const uint8_t* c = copy + kChecksumAt; // little-endian in the page
    return c[0] | static_cast<uint32_t>(c[1]) << 8 | static_cast<uint32_t>(c[2]) << 16 | static_cast<uint32_t>(c[3]) << 24;
}
#endif
