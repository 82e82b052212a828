#include "trace.h"

#include <cstdarg>
#include <cstdio>

volatile DWORD g_dwTraceFlags = TRACE_OFF;

void Trace(const char* format, ...) {
    if (g_dwTraceFlags & TRACE_OFF) return;
    // Until the trace file exists, lines go to the standard error stream.
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

const char* FormatDuration(char* buf, size_t size, LONGLONG ms) {
    const char* sign = ms < 0 ? "-" : "";
    unsigned long long v = ms < 0 ? 0ull - static_cast<unsigned long long>(ms) : static_cast<unsigned long long>(ms);
    std::snprintf(buf, size, "%s%llu:%02llu:%02llu.%03llu", sign, v / 3600000, v / 60000 % 60, v / 1000 % 60, v % 1000);
    return buf;
}
