// The http(s) byte stream in two steps, for the resolver: made (no network yet), so that a cancel can
// close it, then opened (the request and the reply's headers).
#pragma once
#include "mfobjects.h"

HRESULT PlatCreateHttpByteStream(const char* url, IMFByteStream** stream);
// stream: one made by PlatCreateHttpByteStream.
HRESULT PlatOpenHttpByteStream(IMFByteStream* stream);
// True for the URLs it reads: http:// and https://, in any case.
bool PlatIsHttpUrl(const char* url);
