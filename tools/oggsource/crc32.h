// CRC-32 as zlib and PNG compute it (reflected polynomial 0xEDB88320), so that a sample's checksum can
// be compared with any other tool's.
#pragma once
#include <cstddef>
#include <cstdint>

namespace host {

inline uint32_t Crc32(const uint8_t* data, size_t length) {
    static const struct Table {
        uint32_t v[256];
        Table() {
            for (uint32_t i = 0; i < 256; ++i) {
                uint32_t c = i;
                for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                v[i] = c;
            }
        }
    } table;
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) c = table.v[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

} // namespace host
