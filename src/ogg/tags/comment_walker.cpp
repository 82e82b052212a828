#include "comment_walker.h"

namespace tags {
namespace {
bool TakeLength(const uint8_t* data, size_t size, size_t* at, uint32_t* value) {
    if (size - *at < 4) return false;
    const uint8_t* p = data + *at;
    *value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    *at += 4;
    return true;
}
} // namespace

HRESULT WalkComments(const uint8_t* data, size_t size, ICommentSink* sink) {
    size_t at = 0;
    uint32_t length = 0, count = 0;
    if (!TakeLength(data, size, &at, &length) || length > size - at) return MF_E_INVALID_FILE_FORMAT;
    HRESULT hr = sink->OnVendor(data + at, length);
    if (FAILED(hr)) return hr;
    at += length;
    if (!TakeLength(data, size, &at, &count)) return MF_E_INVALID_FILE_FORMAT;
    // Each comment takes four bytes at least, so the walk ends with the data whatever the count says.
    for (uint32_t i = 0; i < count; ++i) {
        if (!TakeLength(data, size, &at, &length) || length > size - at) return MF_E_INVALID_FILE_FORMAT;
        hr = sink->OnComment(data + at, length);
        if (FAILED(hr)) return hr;
        at += length;
    }
    return S_OK;
}
} // namespace tags
