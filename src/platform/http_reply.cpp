// Header lines of an HTTP reply: status, length, range, type and redirect target.
#include "http_reply.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {
// Case-insensitive "Name:" at the start of the line; on a match *value points past the colon and blanks.
bool IsHeader(const char* line, size_t size, const char* name, const char** value) {
    const size_t n = std::strlen(name);
    if (size <= n || line[n] != ':') return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
    const char* v = line + n + 1;
    while (v < line + size && (*v == ' ' || *v == '\t'))
        ++v;
    *value = v;
    return true;
}

// A decimal number of at most 19 digits (no sign, no overflow); *end past it.
bool ParseNumber(const char* p, const char* limit, uint64_t* out, const char** end) {
    uint64_t v = 0;
    const char* start = p;
    for (; p < limit && std::isdigit(static_cast<unsigned char>(*p)) && p - start < 19; ++p)
        v = v * 10 + uint64_t(*p - '0');
    if (p == start || (p < limit && std::isdigit(static_cast<unsigned char>(*p)))) return false;
    *out = v;
    *end = p;
    return true;
}

// Copies the value without its line end into a fixed field, cut to fit.
void CopyValue(char* field, size_t size, const char* value, const char* limit) {
    size_t n = 0;
    while (value + n < limit && value[n] != '\r' && value[n] != '\n' && n + 1 < size)
        ++n;
    std::memcpy(field, value, n);
    field[n] = 0;
}

void ParseStatusLine(HttpReplyHeaders* h, const char* line, size_t size) {
    const char* limit = line + size;
    const char* p = static_cast<const char*>(std::memchr(line, ' ', size));
    uint64_t status = 0;
    const char* end = nullptr;
    if (p && ParseNumber(p + 1, limit, &status, &end) && status < 1000) h->status = static_cast<int>(status);
    if (end && end < limit && *end == ' ') CopyValue(h->reason, sizeof h->reason, end + 1, limit);
}

// Content-Range: bytes START-END/TOTAL, or bytes */TOTAL (a 416's).
void ParseContentRange(HttpReplyHeaders* h, const char* v, const char* limit) {
    if (limit - v < 6 || std::strncmp(v, "bytes ", 6) != 0) return;
    v += 6;
    const char* end = nullptr;
    uint64_t start = 0, last = 0;
    if (*v == '*') {
        end = v + 1;
    } else {
        if (!ParseNumber(v, limit, &start, &end) || end >= limit || *end != '-') return;
        if (!ParseNumber(end + 1, limit, &last, &end) || last < start) return;
        h->hasRange = true;
        h->rangeStart = start;
    }
    if (end >= limit || *end != '/') return;
    uint64_t total = 0;
    if (ParseNumber(end + 1, limit, &total, &end)) {
        h->rangeTotalKnown = true;
        h->rangeTotal = total;
    }
}
} // namespace

bool HttpAddHeaderLine(HttpReplyHeaders* h, const char* line, size_t size) {
    if (size >= 5 && std::strncmp(line, "HTTP/", 5) == 0) {
        *h = HttpReplyHeaders{};
        ParseStatusLine(h, line, size);
    }
    h->lines += 1;
    h->bytes += size;
    if (h->lines > kMaxHeaderLines || h->bytes > kMaxHeaderBytes) return false;
    const char* limit = line + size;
    const char* v = nullptr;
    const bool blank = size <= 2 && (size == 0 || line[0] == '\r' || line[0] == '\n');
    uint64_t n = 0;
    const char* end = nullptr;
    if (blank) {
        // Interim replies (1xx) and redirects that will be followed are not the reply whose body is read.
        const bool redirect = h->status >= 300 && h->status < 400 && h->hasLocation;
        h->complete = h->status >= 200 && !redirect;
    } else if (IsHeader(line, size, "content-length", &v) && ParseNumber(v, limit, &n, &end)) {
        h->hasLength = true;
        h->length = n;
    } else if (IsHeader(line, size, "content-range", &v)) {
        ParseContentRange(h, v, limit);
    } else if (IsHeader(line, size, "content-type", &v)) {
        CopyValue(h->contentType, sizeof h->contentType, v, limit);
    } else if (IsHeader(line, size, "location", &v)) {
        h->hasLocation = true;
    }
    return true;
}

HRESULT HttpStatusError(int status) {
    switch (status) {
    case 401:
    case 403:
        return MF_E_NET_SERVER_ACCESSDENIED;
    case 404:
    case 410:
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case 502:
    case 503:
    case 504:
        return MF_E_NET_SERVER_UNAVAILABLE;
    default:
        break;
    }
    if (status >= 500) return MF_E_NET_INTERNAL_SERVER_ERROR;
    if (status >= 400) return MF_E_NET_BAD_REQUEST;
    return MF_E_NET_INCOMPATIBLE_SERVER; // a 1xx or 3xx that ends the exchange: nothing to read
}
