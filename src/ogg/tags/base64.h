// Base64 (RFC 4648's alphabet, '=' padding) as METADATA_BLOCK_PICTURE carries a FLAC picture block.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tags {
// The decoded size of the text, or false when it is not base64: a character outside the alphabet (white space
// included), padding anywhere but at the end, or a length that leaves a lone character. Padding may be left
// out.
bool Base64DecodedSize(const uint8_t* text, size_t length, size_t* size);
// Decodes text that Base64DecodedSize accepted into out (room for the size it gave).
void DecodeBase64(const uint8_t* text, size_t length, uint8_t* out);
} // namespace tags
