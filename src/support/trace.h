// Diagnostic trace lines, switched off unless the flag word says otherwise.
#pragma once
#include <cstddef>

#include "platform/platform.h"

// The flag word: 0x10 means tracing is off; every trace call is then one test of this word.
extern volatile DWORD g_dwTraceFlags;
constexpr DWORD TRACE_OFF = 0x10;

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Milliseconds as "h:mm:ss.mmm" (with a sign when negative) into buf.
const char* FormatDuration(char* buf, size_t size, LONGLONG milliseconds);
