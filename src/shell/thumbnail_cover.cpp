#include "thumbnail_cover.h"

#include <cstring>

#include "support/alloc.h"

HRESULT CopyThumbnailCover(const tags::CPresentationTags* tags, uint8_t** bytes, size_t* size) {
    if (!bytes || !size) return E_POINTER;
    *bytes = nullptr;
    *size = 0;
    tags::TagPicture cover;
    // The same picture the property store hands out as PKEY_ThumbnailStream: one cover per file, whoever
    // asks.
    if (!tags || !tags->Cover(&cover) || !cover.data || cover.size == 0) return S_FALSE;
    auto* copy = static_cast<uint8_t*>(AllocBytes(cover.size));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, cover.data, cover.size);
    *bytes = copy;
    *size = cover.size;
    return S_OK;
}

namespace {
// side * cx / longer, rounded to the nearest pixel and at least 1 (64-bit: no overflow for any 32-bit input).
uint32_t Scaled(uint32_t side, uint32_t cx, uint32_t longer) {
    const uint64_t n = (static_cast<uint64_t>(side) * cx + longer / 2) / longer;
    return n == 0 ? 1u : static_cast<uint32_t>(n);
}
} // namespace

HRESULT FitThumbnail(uint32_t width, uint32_t height, uint32_t cx, ThumbnailSize* out) {
    if (!out) return E_POINTER;
    *out = ThumbnailSize{};
    if (cx == 0 || width == 0 || height == 0) return E_INVALIDARG;
    if (width > kMaxThumbnailFrameSide || height > kMaxThumbnailFrameSide) return kThumbnailFrameTooLarge;
    const uint32_t longer = width > height ? width : height;
    // Never scaled up: a small cover is drawn at its own size (the shell centres a thumbnail smaller than the
    // request), not blurred up to it.
    if (longer <= cx) {
        *out = ThumbnailSize{width, height};
        return S_OK;
    }
    *out = width >= height ? ThumbnailSize{cx, Scaled(height, cx, width)}
                           : ThumbnailSize{Scaled(width, cx, height), cx};
    return S_OK;
}
