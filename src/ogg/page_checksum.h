// The checksum of an Ogg page: CRC-32 with the polynomial 0x04c11db7, not reflected, starting from 0, over the
// page with its own checksum field read as zero.
#pragma once
#include <cstddef>
#include <cstdint>

// header: the page's header (headerLen bytes, at least 27); body: its body. The header's checksum field is read
// as zero whatever it holds.
uint32_t OggPageChecksum(const uint8_t* header, size_t headerLen, const uint8_t* body, size_t bodyLen);
