// The Vorbis comment layout: a vendor string, a count, then that many comments, each a little-endian 32-bit
// length and that many bytes. Every length and the count are checked against the bytes there are; nothing is
// reserved by the count.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace tags {
class ICommentSink {
public:
    virtual HRESULT OnVendor(const uint8_t* text, size_t length) = 0;
    // One comment as it stands ("KEY=value", unchecked). A failure ends the walk with it.
    virtual HRESULT OnComment(const uint8_t* text, size_t length) = 0;

protected:
    ~ICommentSink() = default;
};

// Walks the layout at `data` (the bytes after a header's magic). S_OK when every stated length held;
// MF_E_INVALID_FILE_FORMAT when one reaches past the end (the comments before it were passed on); else the
// sink's failure.
HRESULT WalkComments(const uint8_t* data, size_t size, ICommentSink* sink);
} // namespace tags
