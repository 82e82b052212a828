// What one comment header, one stream and one presentation may make the tag model hold, whatever lengths and
// counts the file states. What lies beyond a limit is left out (docs/behaviour.md says how).
#pragma once
#include <cstddef>

namespace tags {
// A key longer than this is no key a reader knows: its field is left out.
constexpr size_t kMaxKeyBytes = 256;
// A value (and the vendor string) is cut after this many UTF-16 units, never inside a surrogate pair.
constexpr size_t kMaxValueUnits = 64 * 1024;
// Text kept from one comment header: keys and values in UTF-16 units. Once a field does not fit, no further
// text field of that header is kept (pictures still are).
constexpr size_t kMaxHeaderTextUnits = 1024 * 1024;
// Fields kept from one comment header.
constexpr size_t kMaxHeaderFields = 4096;
// Text kept for a whole presentation (every stream's headers).
constexpr size_t kMaxPresentationTextUnits = 4 * 1024 * 1024;

// A picture's image is at most this large; a larger picture is left out whole.
constexpr size_t kMaxPictureBytes = 16 * 1024 * 1024;
// A base64 picture block (METADATA_BLOCK_PICTURE) decodes to at most this much: the image and its fields.
constexpr size_t kMaxPictureBlockBytes = kMaxPictureBytes + 64 * 1024;
// A picture's MIME type longer than this is no MIME type: the picture is left out.
constexpr size_t kMaxMimeBytes = 256;
// A picture's description is cut after this many UTF-16 units.
constexpr size_t kMaxDescriptionUnits = 1024;
// Pictures kept per stream, and the bytes all pictures of a presentation may hold together.
constexpr size_t kMaxStreamPictures = 16;
constexpr size_t kMaxPresentationPictureBytes = 32 * 1024 * 1024;

// Streams whose tags one presentation keeps (a link has at most 32 media streams).
constexpr size_t kMaxTagStreams = 32;
} // namespace tags
