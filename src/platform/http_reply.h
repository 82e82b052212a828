// What an HTTP reply's headers say, parsed line by line as they arrive, and the HRESULT for a reply that
// refuses the request.
#pragma once
#include <cstddef>
#include <cstdint>

#include "wintypes.h"

// What one reply may send before its body: more is taken for a hostile or broken server.
constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxHeaderBytes = 64 * 1024;

struct HttpReplyHeaders {
    int status = 0;
    char reason[64] = {};   // the status line's reason phrase ("Not Found")
    bool hasLength = false; // Content-Length
    uint64_t length = 0;
    bool hasRange = false; // Content-Range: bytes START-END/TOTAL (TOTAL may be *)
    uint64_t rangeStart = 0;
    bool rangeTotalKnown = false;
    uint64_t rangeTotal = 0;
    bool hasLocation = false;
    char contentType[256] = {}; // as sent, parameters included
    size_t lines = 0, bytes = 0;
    bool complete = false; // the blank line after a final reply's headers came
};

// Feeds one header line (CRLF included). A status line starts a new reply: a redirect's or an interim
// reply's headers are followed by the next reply's. False when the reply passes the limits above.
bool HttpAddHeaderLine(HttpReplyHeaders* h, const char* line, size_t size);

// The HRESULT for a final reply whose status is not 2xx.
HRESULT HttpStatusError(int status);
