// A file read as a pipe or a plain HTTP reply is: a byte stream that cannot seek (no
// MFBYTESTREAM_IS_SEEKABLE; a seek anywhere but where it is fails with MF_E_BYTESTREAM_NOT_SEEKABLE) and has
// no length (GetLength: -1), whose MF_BYTESTREAM_CONTENT_TYPE names its MIME type, so that a resolver finds
// the handler by that type alone. The Windows build wraps the system's file byte stream
// (unseekable_stream_windows.cpp); the Linux build poses the stand-in's fault byte stream as one
// (unseekable_stream_linux.cpp): two makings of the same stream, compared.
#pragma once
#include <string>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace host {
// The MIME type an unseekable open announces unless told another.
inline constexpr const char* kUnseekableContentType = "audio/ogg";

HRESULT CreateUnseekableStream(const std::string& path, const std::string& contentType,
                               IMFByteStream** stream);
} // namespace host
