// An image's bytes (PNG, JPEG, or any format the system's WIC decoders read) made into the bitmap a thumbnail
// provider hands the shell: the first frame, scaled to fit cx (FitThumbnail's rule), as a top-down 32-bit DIB
// section in BGRA with straight alpha (WTSAT_ARGB; an image without alpha comes out opaque). Windows only.
#pragma once
#include "platform/platform.h"

// S_OK with *bitmap (the caller's to DeleteObject); else the decoder's or the limit's error and no bitmap.
HRESULT DecodeThumbnail(const BYTE* bytes, size_t size, UINT cx, HBITMAP* bitmap);
