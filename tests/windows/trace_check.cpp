// trace_check.exe: the trace log on the system's own kernel services (named block, timer queue, file on
// drive c:). Four threads write 200 lines each; it waits for the timer to write them without a release,
// then releases. The Windows leg's test reads c:\KESTTrace.txt from the Wine prefix and checks every line.
#include <cstdio>
#include <thread>
#include <vector>

#include "support/trace.h"

namespace {
LONGLONG FileSize(const WCHAR* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return static_cast<LONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}
} // namespace

int main() {
    g_dwTraceFlags = TRACE_ON | TRACE_FILE | TRACE_THREAD;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) Trace("\nline %d.%d end", t, i);
        });
    for (auto& t : threads) t.join();
    bool timerWrote = false; // the collector's timer writes every 500 ms on its own
    for (int i = 0; i < 100 && !timerWrote; ++i) {
        Sleep(50);
        timerWrote = FileSize(g_szTraceFile) > 0;
    }
    TraceRelease();
    std::printf("timer %d\n", timerWrote ? 1 : 0);
    std::printf("file %ls\n", g_szTraceFile);
    return 0;
}
