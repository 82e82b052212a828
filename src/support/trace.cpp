// The trace log: prefixed lines collected per process and file, written every 500 ms by a timer.
#include "trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cstring>
#include <new>

#include "buffer.h"
#include "lock.h"

volatile DWORD g_dwTraceFlags = TRACE_SHIPPED;
WCHAR g_szTraceFile[MAX_PATH] = L"c:\\KESTTrace.txt";

namespace {
constexpr int kLine = 2048;
constexpr DWORD kTimerMs = 500;

class Stopwatch {
public:
    void Start() {
        m_startTick = GetTickCount();
        LARGE_INTEGER v;
        if (m_frequency == 0 && QueryPerformanceFrequency(&v)) m_frequency = v.QuadPart;
        m_start = QueryPerformanceCounter(&v) ? v.QuadPart : -1;
    }
    LONGLONG ElapsedMs() const {
        LARGE_INTEGER now;
        if (m_frequency && m_start != -1 && QueryPerformanceCounter(&now)) {
            const LONGLONG ms = TraceTicksToMs(now.QuadPart - m_start, m_frequency);
            return ms > 0x7FFFFFFF ? 0x7FFFFFFF : ms;
        }
        return static_cast<DWORD>(GetTickCount() - m_startTick);
    }

private:
    LONGLONG m_frequency = 0;
    LONGLONG m_start = -1;
    DWORD m_startTick = 0;
};

struct Collector {
    CCountedLock lock;
    CLock fileLock; // one writer of the file at a time, taken before `lock`
    CHeapBuffer* pending = nullptr;
    Stopwatch write;
    std::atomic<LONG> refs{0};
    std::atomic<HANDLE> timerQueue{nullptr};
    HANDLE timer = nullptr;
    const void* timerOwner = nullptr;
    std::atomic<LONG> flushGuard{0};
    std::atomic<LONG> relocationAllowed{1};
};

struct SharedBlock {
    std::atomic<Collector*> collector;
    std::atomic<LONG> spin;
    LONG unused;
};

// One per module.
struct ModuleTrace {
    CLock lock;
    CLock nameLock; // g_szTraceFile is read and relocated under it: never seen half rewritten
    HANDLE block = nullptr;
    std::atomic<Collector*> collector{nullptr};
    std::atomic<LONG> shutdown{0};
    ~ModuleTrace() {
        shutdown = 1;
        TraceRelease();
    }
};
ModuleTrace g_module;
const char g_moduleIdentity = 0; // an address unique to this module: the timer's owner

// Time stamps of this module.
bool g_firstStamp = true;
SYSTEMTIME g_firstTime;
Stopwatch g_stopwatch;
DWORD g_lastStamp = 0xFFFFFFFF;
const TraceClock* g_clock = nullptr;

char g_durations[16][50];
std::atomic<unsigned> g_durationSlot{0};

bool TakeSpin(SharedBlock* b, DWORD limitMs) {
    for (DWORD waited = 0; ++b->spin > 1; waited += 10) {
        --b->spin;
        if (limitMs && waited >= limitMs) return false;
        Sleep(10);
    }
    return true;
}

// ---- writing the file
void CopyTraceFileName(WCHAR* out) {
    CAutoLock lock(g_module.nameLock);
    std::wcscpy(out, g_szTraceFile);
}

// c:\KESTTrace.txt becomes c:\KESTTrace.txt\KESTTrace.txt: the old name used as a directory. Once per collector:
// the check and the rewrite are one step under the name lock.
bool Relocate(Collector* c, const WCHAR* from) {
    CAutoLock lock(g_module.nameLock);
    if (!c->relocationAllowed) return true; // done meanwhile by another writer
    if (std::wcscmp(from, g_szTraceFile) != 0) return true; // the name changed: try the new one
    const WCHAR* slash = std::wcsrchr(g_szTraceFile, L'\\');
    const WCHAR* name = slash ? slash + 1 : g_szTraceFile;
    WCHAR moved[MAX_PATH];
    if (std::swprintf(moved, MAX_PATH, L"%ls\\%ls", g_szTraceFile, name) < 0) return false;
    std::wcscpy(g_szTraceFile, moved);
    c->relocationAllowed = 0;
    return true;
}

HANDLE OpenTraceFile(WCHAR* path) {
    CopyTraceFileName(path);
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Called with c->fileLock held: one writer at a time, so that flushes neither interleave nor reorder.
void WriteToFile(Collector* c, const BYTE* bytes, int32_t count) {
    const DWORD begin = GetTickCount();
    WCHAR path[MAX_PATH];
    HANDLE file = OpenTraceFile(path);
    while (file == INVALID_HANDLE_VALUE && c->relocationAllowed) {
        const LONG error = static_cast<LONG>(GetLastError());
        bool relocated = false;
        if (error == ERROR_ACCESS_DENIED) {
            DWORD attributes = GetFileAttributesW(path);
            bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
            if (attributes == INVALID_FILE_ATTRIBUTES) directory = CreateDirectoryW(path, nullptr) != FALSE;
            relocated = directory && Relocate(c, path);
        }
        if (!relocated) {
            if (GetTickCount() - begin > 1000 || (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION))
                return; // the text of this flush is lost
            Sleep(1);
        }
        file = OpenTraceFile(path);
    }
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (GetFileSize(file, nullptr) == 0) {
        const BYTE bom[3] = {0xEF, 0xBB, 0xBF};
        WriteFile(file, bom, 3, &written, nullptr);
    }
    SetFilePointer(file, 0, nullptr, FILE_END);
    WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
    CloseHandle(file);
}

void Flush(Collector* c, bool fromTimer) {
    CHeapBuffer local;
    CAutoLock file(c->fileLock); // taken before the text: what one flush takes is written before the next's
    c->lock.Lock();
    if (c->pending && c->pending->Size() > 0 && !(fromTimer && c->write.ElapsedMs() < 51)) c->pending->Swap(&local);
    if (local.Size() > 0) c->write.Start(); // under the lock: flushes and appends read it too
    c->lock.Unlock();
    if (local.Size() > 0) WriteToFile(c, local.Data(), local.Size());
}

void WINAPI TimerRoutine(void* parameter, BOOLEAN) {
    auto* c = static_cast<Collector*>(parameter);
    if (++c->flushGuard > 1) {
        --c->flushGuard;
        return;
    }
    Flush(c, true);
    --c->flushGuard;
}

// ---- the collector
// Called with the module lock held, kept while the collector is used: TraceRelease frees it under the same lock.
Collector* AcquireCollector() {
    if (g_module.collector || g_module.shutdown) return g_module.shutdown ? nullptr : g_module.collector.load();
    WCHAR path[MAX_PATH];
    CopyTraceFileName(path);
    CBuffer name;
    name.Format("%08X.%d.%ls", static_cast<unsigned>(GetCurrentProcessId()), 642, path);
    for (int32_t i = 0; i < name.Size(); ++i)
        if (name.Data()[i] == '\\') name.Data()[i] = '/';
    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedBlock),
                                      reinterpret_cast<const char*>(name.Data()));
    if (!block) return nullptr;
    auto* shared = static_cast<SharedBlock*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedBlock)));
    if (!shared) {
        CloseHandle(block);
        return nullptr;
    }
    TakeSpin(shared, 0);
    if (!shared->collector) {
        void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Collector));
        Collector* c = memory ? new (memory) Collector : nullptr;
        if (c) c->write.Start();
        shared->collector = c;
    }
    Collector* c = shared->collector;
    if (c) ++c->refs;
    --shared->spin;
    UnmapViewOfFile(shared);
    if (c) g_module.block = block;
    else CloseHandle(block);
    g_module.collector = c;
    return c;
}

void AppendToCollector(Collector* c, const char* text) {
    c->lock.Lock();
    if (!c->pending) c->pending = new CHeapBuffer;
    if (!c->pending) {
        c->lock.Unlock();
        return;
    }
    char converted[2 * kLine];
    int32_t n = 0;
    for (const char* p = text; *p && n < 2 * kLine - 2; ++p) { // every line end becomes CR LF
        if (*p == '\r' && p[1] == '\n') ++p;
        if (*p == '\r' || *p == '\n') {
            converted[n++] = '\r';
            converted[n++] = '\n';
        } else {
            converted[n++] = *p;
        }
    }
    // Room for the line grows by doubling: one exact reallocation per character made tracing quadratic.
    CHeapBuffer* pending = c->pending;
    const int32_t need = pending->Size() + n;
    if (pending->Capacity() < need) {
        const int32_t doubled = pending->Capacity() < (1 << 29) ? 2 * pending->Capacity() : need;
        pending->Reserve(doubled > need ? (doubled > 4096 ? doubled : 4096) : need);
    }
    pending->Append(converted, n);
    if (!c->timerQueue.load()) {
        HANDLE queue = CreateTimerQueue();
        HANDLE previous = queue ? c->timerQueue.exchange(queue) : nullptr;
        if (previous) {
            c->timerQueue.exchange(previous); // another thread was first: keep its queue
            DeleteTimerQueue(queue);
        } else if (queue) {
            if (CreateTimerQueueTimer(&c->timer, queue, TimerRoutine, c, kTimerMs, kTimerMs, 0)) {
                c->timerOwner = &g_moduleIdentity;
            } else {
                c->timerQueue.exchange(nullptr);
                DeleteTimerQueue(queue);
            }
        }
    }
    c->lock.Unlock();
}

// ---- lines
void ElapsedTime(SYSTEMTIME* t) {
    if (g_firstStamp) {
        if (g_clock) g_clock->localTime(&g_firstTime);
        else GetLocalTime(&g_firstTime);
        g_stopwatch.Start();
        g_firstStamp = false;
        *t = g_firstTime;
        return;
    }
    *t = g_firstTime;
    LONGLONG ms = t->wMilliseconds + (g_clock ? g_clock->elapsedMs() : g_stopwatch.ElapsedMs());
    LONGLONG seconds = t->wSecond + ms / 1000;
    t->wMilliseconds = static_cast<WORD>(ms % 1000);
    if (ms >= 1000) {
        LONGLONG minutes = t->wMinute + seconds / 60;
        LONGLONG hours = t->wHour + minutes / 60;
        t->wSecond = static_cast<WORD>(seconds % 60);
        t->wMinute = static_cast<WORD>(minutes % 60);
        if (hours > 23) hours -= 24;
        t->wHour = static_cast<WORD>(hours); // still above 23 after more than two days: shown with "+%dd"
    }
}

void BuildLine(const char* text, char* line) {
    if (*text != '\n') {
        size_t n = std::strlen(text);
        if (n > kLine - 1) n = kLine - 1;
        std::memcpy(line, text, n);
        line[n] = 0;
        return;
    }
    char prefix[128];
    int at = 0;
    while (*text == '\n' && at < 48) {
        prefix[at++] = '\r';
        prefix[at++] = '\n';
        ++text;
    }
    prefix[at] = 0;
    const DWORD flags = g_dwTraceFlags;
    if (flags & TRACE_TIME) {
        // The stamp state is shared by every thread of the module: taken under the module lock, so that
        // two threads never tear it.
        CAutoLock lock(g_module.lock);
        SYSTEMTIME t;
        ElapsedTime(&t);
        const DWORD stamp = ((static_cast<DWORD>(t.wHour) * 60 + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
        if (g_lastStamp != 0xFFFFFFFF && stamp - g_lastStamp > 100 && stamp > g_lastStamp) at += std::snprintf(prefix + at, sizeof prefix - at, "\n");
        if (stamp > 86400000)
            at += std::snprintf(prefix + at, sizeof prefix - at, "+%dd %02d:%02d:%02d.%03d: ", static_cast<int>(stamp / 86400000), t.wHour % 24,
                                t.wMinute, t.wSecond, t.wMilliseconds);
        else
            at += std::snprintf(prefix + at, sizeof prefix - at, "%02d:%02d:%02d.%03d: ", t.wHour, t.wMinute, t.wSecond,
                                t.wMilliseconds);
        g_lastStamp = stamp;
    }
    if (flags & TRACE_HANDLES) {
        DWORD handles = 0;
        int n = GetProcessHandleCount(GetCurrentProcess(), &handles) ? static_cast<int>(handles) : -1;
        at += std::snprintf(prefix + at, sizeof prefix - at, "%4d ", n);
    }
    if (flags & TRACE_THREAD) std::snprintf(prefix + at, sizeof prefix - at, "%08x: ", static_cast<unsigned>(GetCurrentThreadId()));
    // The prefix and the text after its line feeds, cut to the line's size.
    size_t p = std::strlen(prefix), n = std::strlen(text);
    if (p > kLine - 1) p = kLine - 1;
    if (n > kLine - 1 - p) n = kLine - 1 - p;
    std::memcpy(line, prefix, p);
    std::memcpy(line + p, text, n);
    line[p + n] = 0;
}

void TraceLine(const char* text) {
    char line[kLine];
    BuildLine(text, line);
    const DWORD flags = g_dwTraceFlags;
    if (flags & TRACE_DEBUGGER) OutputDebugStringA(line);
    if (flags & TRACE_FILE) {
        CAutoLock lock(g_module.lock);
        if (Collector* c = AcquireCollector()) AppendToCollector(c, line);
        else if (flags & TRACE_DEBUGGER) Sleep(0);
    }
}
} // namespace

void Trace(const char* format, ...) {
    if (!(g_dwTraceFlags & TRACE_ON) || !format) return;
    char text[kLine];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    TraceLine(text);
}

const char* FormatDuration(LONGLONG ms) {
    if (!(g_dwTraceFlags & TRACE_ON)) return "";
    char* slot = g_durations[g_durationSlot++ % 16];
    if (ms > -1000 && ms < 1000) std::snprintf(slot, 50, "%dms", static_cast<int>(ms));
    else std::snprintf(slot, 50, "%lld.%03ds", static_cast<long long>(ms / 1000), static_cast<int>((ms < 0 ? -ms : ms) % 1000));
    return slot;
}

// Whole seconds and the rest apart: ticks times 1000 would overflow after about 106 days at 1 GHz.
LONGLONG TraceTicksToMs(LONGLONG ticks, LONGLONG frequency) {
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

void TraceSetClock(const TraceClock* clock) {
    g_clock = clock;
    g_firstStamp = true;
    g_lastStamp = 0xFFFFFFFF;
}

void TraceRelease() {
    CAutoLock lock(g_module.lock);
    Collector* c = g_module.collector.load();
    if (!g_module.block || !c) return;
    auto* shared = static_cast<SharedBlock*>(MapViewOfFile(g_module.block, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedBlock)));
    const bool spun = shared && TakeSpin(shared, 1000);
    const LONG left = --c->refs;
    // This module's timer stops first (waiting for a flush it is in): its code goes with the module, and the
    // last flush below must not cross one of its own.
    if (c->timerOwner == &g_moduleIdentity && c->timerQueue.load()) {
        ++c->flushGuard;
        DeleteTimerQueueTimer(c->timerQueue.load(), c->timer, INVALID_HANDLE_VALUE);
        c->timerOwner = nullptr;
        c->timer = nullptr;
        DeleteTimerQueue(c->timerQueue.exchange(nullptr));
        for (int waited = 0; c->flushGuard > 1 && waited < 1000; waited += 10) Sleep(10);
        --c->flushGuard;
    }
    bool locked = false;
    c->fileLock.Lock(); // a flush of another module's timer finishes its write first
    for (int waited = 0; !(locked = c->lock.TryLock()) && waited < 1000; waited += 100) Sleep(100);
    if (locked) {
        if (c->pending && c->pending->Size() > 0) WriteToFile(c, c->pending->Data(), c->pending->Size());
        delete c->pending;
        c->pending = nullptr;
        c->write.Start();
        c->lock.Unlock();
    }
    c->fileLock.Unlock();
    // A collector whose lock could not be taken in time stays alive: another thread may still hold it.
    if (left == 0 && locked) {
        if (shared && shared->collector == c) shared->collector = nullptr;
        c->~Collector();
        HeapFree(GetProcessHeap(), 0, c);
    }
    if (spun) --shared->spin;
    if (shared) UnmapViewOfFile(shared);
    CloseHandle(g_module.block);
    g_module.block = nullptr;
    g_module.collector = nullptr;
}
