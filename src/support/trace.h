// Diagnostic trace lines. Off as shipped: every call is then one test of the flag word.
#pragma once
#include <cstddef>

#include "platform/platform.h"

// Bits of the flag word.
constexpr DWORD TRACE_FILE = 0x1;      // lines are collected for the trace file
constexpr DWORD TRACE_TIME = 0x2;      // time-of-day prefix, a blank line after more than 100 ms of silence
constexpr DWORD TRACE_THREAD = 0x4;    // thread id prefix
constexpr DWORD TRACE_ON = 0x8;        // master switch
constexpr DWORD TRACE_SHIPPED = 0x10;  // set in the shipped value, tested nowhere
constexpr DWORD TRACE_HANDLES = 0x20;  // process handle count prefix
constexpr DWORD TRACE_DEBUGGER = 0x40; // each line goes to OutputDebugStringA

// 0x10, off, as shipped; the module's trace switch (OGGSOURCE_TRACE, the settings key's "Trace") sets it once at
// load, where the flag word used to be fixed: users switch the log on without code.
extern volatile DWORD g_dwTraceFlags;
extern WCHAR g_szTraceFile[MAX_PATH];  // "c:\KESTTrace.txt"

void Trace(const char* format, ...) PLAT_PRINTF_FORMAT(1, 2);
// "%dms" between -1000 and 1000 exclusive, else "%lld.%03ds"; an empty string while tracing is off.
// The text stays valid for 16 further calls.
const char* FormatDuration(LONGLONG milliseconds);

// For tests: a clock in place of the local time and the stopwatch (null restores them), and the module
// exit's release of the collector, which writes what is pending.
struct TraceClock {
    void (*localTime)(SYSTEMTIME* time);
    LONGLONG (*elapsedMs)();
};
void TraceSetClock(const TraceClock* clock);
void TraceRelease();
// Counter ticks as milliseconds without overflow for any tick count and positive frequency.
LONGLONG TraceTicksToMs(LONGLONG ticks, LONGLONG frequency);
