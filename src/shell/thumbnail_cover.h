// What a thumbnail shows of an Ogg file, without the image codecs: which picture (the presentation's cover,
// the one PKEY_ThumbnailStream carries), a copy of its bytes that outlives the core, and the size the image
// is scaled to for a request of cx pixels. Plain C++: the Windows thumbnail provider decodes and scales with
// WIC.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ogg/tags/presentation_tags.h"

// A decoded frame wider or taller than this is refused before anything is allocated for it (a 16384 x 16384
// frame of 32-bit pixels is 1 GB; a cover is a few hundred pixels a side).
constexpr uint32_t kMaxThumbnailFrameSide = 16384;
// What a frame beyond that limit fails with: WIC's own code for an image size out of range.
constexpr HRESULT kThumbnailFrameTooLarge = static_cast<HRESULT>(0x88982F51);

// The cover's image bytes, copied (free them with std::free): S_OK; S_FALSE when the tags have no picture
// with an image (*bytes null); E_OUTOFMEMORY. The cover is the tag model's: the first front cover (type 3),
// else the first picture that is not a file icon, else the first picture.
HRESULT CopyThumbnailCover(const tags::CPresentationTags* tags, uint8_t** bytes, size_t* size);

struct ThumbnailSize {
    uint32_t width = 0, height = 0;
};

// The size a width x height frame is drawn at for a request of cx pixels: the aspect ratio kept, the longer
// side cx when the frame is larger, the frame's own size when it fits (never scaled up), no side below 1
// pixel. E_INVALIDARG for a zero cx, width or height; kThumbnailFrameTooLarge beyond kMaxThumbnailFrameSide.
HRESULT FitThumbnail(uint32_t width, uint32_t height, uint32_t cx, ThumbnailSize* out);
