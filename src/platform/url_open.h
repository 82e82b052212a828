// The resolver's asynchronous open of a URL: on a thread of its own (a server may take its time; no
// work-queue thread waits for it), cancellable through the cookie it hands out.
#pragma once
#include "mfidl.h"

// Starts the open; *cookie (optional) is what CancelObjectCreation takes. The callback gets a result whose
// object is the media source or, with MF_RESOLUTION_BYTESTREAM, the byte stream.
HRESULT PlatBeginUrlOpen(IMFSourceResolver* resolver, LPCWSTR url, DWORD flags, IPropertyStore* props,
                         IUnknown** cookie, IMFAsyncCallback* callback, IUnknown* state);
// Cancels an open that has not finished: its byte stream is closed (a wait for the server ends at once)
// and the callback gets MF_E_OPERATION_CANCELLED. S_OK also when the open had finished.
HRESULT PlatCancelUrlOpen(IUnknown* cookie);
// The bytes behind a URL: http:// and https:// through the network byte stream (made, not opened yet),
// anything else a file (a path or a file: URL), opened.
HRESULT PlatMakeUrlByteStream(const char* url, IMFByteStream** stream, bool* needsOpen);
