// A stream's pictures: METADATA_BLOCK_PICTURE comments (base64) and FLAC PICTURE blocks, within their limits.
#include <cstring>

#include "base64.h"
#include "stream_tags.h"

namespace tags {
namespace {
// FLAC's MIME type "-->" says the data is a URL, not an image: nothing a host could show.
bool IsLink(const FlacPictureFields& f) {
    return f.mimeLength == 3 && std::memcmp(f.mime, "-->", 3) == 0;
}
} // namespace

HRESULT CStreamTags::AddBase64Picture(const uint8_t* text, size_t length) {
    size_t size = 0;
    // Sized before anything is allocated: the decoded structure must be within its limit and the budget.
    if (m_pictures.Count() >= kMaxStreamPictures || !Base64DecodedSize(text, length, &size) ||
        size > kMaxPictureBlockBytes || size > m_budget->pictureBytes) {
        ++m_leftOut;
        return S_OK;
    }
    auto* block = static_cast<uint8_t*>(AllocBytes(size ? size : 1));
    if (!block) return E_OUTOFMEMORY;
    DecodeBase64(text, length, block);
    FlacPictureFields f;
    if (!ParseFlacPicture(block, size, &f) || f.dataLength > kMaxPictureBytes || IsLink(f)) {
        std::free(block);
        ++m_leftOut;
        return S_OK;
    }
    HRESULT hr = KeepPicture(f, block, f.dataOffset, size);
    if (FAILED(hr)) std::free(block);
    return hr;
}

HRESULT CStreamTags::AddFlacPicture(const uint8_t* body, size_t size) {
    FlacPictureFields f;
    if (m_pictures.Count() >= kMaxStreamPictures || !ParseFlacPicture(body, size, &f) ||
        f.dataLength > kMaxPictureBytes || f.dataLength > m_budget->pictureBytes || IsLink(f)) {
        ++m_leftOut;
        return S_OK;
    }
    // The packet is the caller's: the image is copied, and only the image.
    auto* image = static_cast<uint8_t*>(AllocBytes(f.dataLength ? f.dataLength : 1));
    if (!image) return E_OUTOFMEMORY;
    if (f.dataLength) std::memcpy(image, body + f.dataOffset, f.dataLength);
    HRESULT hr = KeepPicture(f, image, 0, f.dataLength);
    if (FAILED(hr)) std::free(image);
    return hr;
}

HRESULT CStreamTags::KeepPicture(const FlacPictureFields& f, uint8_t* storage, size_t dataOffset,
                                 size_t charged) {
    PictureRecord r{};
    r.type = f.type;
    r.width = f.width;
    r.height = f.height;
    r.depth = f.depth;
    r.colors = f.colors;
    const size_t mark = m_text.Count();
    bool fits = false;
    HRESULT hr = AddText(f.mime, f.mimeLength, kMaxMimeBytes, false, &r.mime, &fits);
    if (SUCCEEDED(hr))
        hr = AddText(f.description, f.descriptionLength, kMaxDescriptionUnits, false, &r.description, &fits);
    r.storage = storage;
    r.dataOffset = dataOffset;
    r.dataLength = f.dataLength;
    r.charged = charged;
    if (SUCCEEDED(hr)) hr = m_pictures.Append(r);
    if (FAILED(hr)) {
        m_text.Truncate(mark);
        return hr;
    }
    m_budget->pictureBytes -= charged;
    return S_OK;
}

TagPicture CStreamTags::Picture(size_t i) const {
    const PictureRecord& r = m_pictures[i];
    TagPicture p;
    p.type = r.type;
    p.mime = Text(r.mime);
    p.description = Text(r.description);
    p.width = r.width;
    p.height = r.height;
    p.depth = r.depth;
    p.colors = r.colors;
    p.data = r.storage + r.dataOffset;
    p.size = r.dataLength;
    return p;
}
} // namespace tags
