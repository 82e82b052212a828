// The FLAC picture structure (the body of a PICTURE metadata block, and what METADATA_BLOCK_PICTURE carries
// in base64): every length it states checked against the bytes there are.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tags {
struct FlacPictureFields {
    uint32_t type = 0; // 3: the front cover; 1 and 2: file icons
    const uint8_t* mime = nullptr;
    size_t mimeLength = 0;
    const uint8_t* description = nullptr; // UTF-8
    size_t descriptionLength = 0;
    uint32_t width = 0, height = 0, depth = 0, colors = 0;
    size_t dataOffset = 0; // from the start of the structure
    size_t dataLength = 0;
};

// False when a stated length reaches past the structure's `size` bytes, or the MIME type is longer than the
// limit; the fields point into `block`.
bool ParseFlacPicture(const uint8_t* block, size_t size, FlacPictureFields* out);
} // namespace tags
