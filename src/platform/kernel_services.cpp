// Time, the process heap, named blocks, timer queues and files for the trace log.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "kernel.h"
#include "module.h"

namespace {
struct Handle {
    virtual ~Handle() = default;
};

// ---- time
int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

extern "C" void GetLocalTime(SYSTEMTIME* t) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    localtime_r(&ts.tv_sec, &tm);
    t->wYear = static_cast<WORD>(tm.tm_year + 1900);
    t->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    t->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    t->wDay = static_cast<WORD>(tm.tm_mday);
    t->wHour = static_cast<WORD>(tm.tm_hour);
    t->wMinute = static_cast<WORD>(tm.tm_min);
    t->wSecond = static_cast<WORD>(tm.tm_sec);
    t->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

extern "C" DWORD GetTickCount() { return static_cast<DWORD>(MonotonicNs() / 1000000); }

extern "C" BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = MonotonicNs();
    return TRUE;
}

extern "C" BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1000000000;
    return TRUE;
}

extern "C" HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
extern "C" DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

extern "C" BOOL GetProcessHandleCount(HANDLE, DWORD* count) {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return FALSE;
    DWORD n = 0;
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    *count = n > 0 ? n - 1 : 0; // not counting the directory just opened
    return TRUE;
}

extern "C" void OutputDebugStringA(LPCSTR text) {
    static const bool on = std::getenv("OGGSOURCE_DEBUG_OUTPUT") != nullptr;
    if (on && text) std::fputs(text, stderr);
}

// ---- the process heap
extern "C" HANDLE GetProcessHeap() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(1)); }
extern "C" LPVOID HeapAlloc(HANDLE, DWORD, size_t bytes) { return std::malloc(bytes ? bytes : 1); }
extern "C" LPVOID HeapReAlloc(HANDLE, DWORD, LPVOID block, size_t bytes) { return std::realloc(block, bytes ? bytes : 1); }
extern "C" BOOL HeapFree(HANDLE, DWORD, LPVOID block) {
    std::free(block);
    return TRUE;
}

// ---- named blocks
namespace {
struct Block {
    std::string name;
    void* memory;
    int handles;
};

struct Mapping : Handle {
    Block* block;
    ~Mapping() override;
};

std::mutex& BlocksLock() {
    static auto* lock = new std::mutex; // never destroyed: modules release their blocks at their own exit
    return *lock;
}
std::map<std::string, Block*>& Blocks() {
    static auto* blocks = new std::map<std::string, Block*>;
    return *blocks;
}

Mapping::~Mapping() {
    std::lock_guard<std::mutex> g(BlocksLock());
    if (--block->handles == 0) {
        Blocks().erase(block->name);
        std::free(block->memory);
        delete block;
    }
}
} // namespace

extern "C" HANDLE CreateFileMappingA(HANDLE file, void*, DWORD, DWORD sizeHigh, DWORD sizeLow, LPCSTR name) {
    if (file != INVALID_HANDLE_VALUE || sizeHigh != 0 || !name) {
        SetLastError(ERROR_INVALID_PARAMETER); // only named memory blocks are offered
        return nullptr;
    }
    std::lock_guard<std::mutex> g(BlocksLock());
    Block*& b = Blocks()[name];
    SetLastError(b ? ERROR_ALREADY_EXISTS : 0);
    if (!b) {
        void* memory = std::calloc(1, sizeLow ? sizeLow : 1);
        b = memory ? new (std::nothrow) Block{name, memory, 0} : nullptr;
        if (!b) {
            std::free(memory);
            Blocks().erase(name);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    auto* m = new (std::nothrow) Mapping;
    if (!m) return nullptr;
    m->block = b;
    ++b->handles;
    return m;
}

extern "C" LPVOID MapViewOfFile(HANDLE mapping, DWORD, DWORD, DWORD, size_t) {
    auto* m = dynamic_cast<Mapping*>(static_cast<Handle*>(mapping));
    return m ? m->block->memory : nullptr;
}

extern "C" BOOL UnmapViewOfFile(LPCVOID view) { return view != nullptr; }

// ---- timer queues
namespace {
struct Timer : Handle {
    WAITORTIMERCALLBACK callback;
    void* parameter;
    std::chrono::steady_clock::time_point next;
    std::chrono::milliseconds period;
    bool running = false;
    bool orphaned = false; // deleted while its callback ran: freed by the queue's thread when it returns
};

struct TimerQueue : Handle {
    std::mutex lock;
    std::condition_variable wake;
    std::map<Timer*, bool> timers;
    bool stopping = false;
    std::thread thread;

    TimerQueue() : thread([this] { Run(); }) {}
    ~TimerQueue() override {
        {
            std::lock_guard<std::mutex> g(lock);
            stopping = true;
        }
        wake.notify_all();
        if (thread.get_id() == std::this_thread::get_id()) thread.detach();
        else thread.join();
        for (auto& t : timers) delete t.first;
    }
    void Run() {
        std::unique_lock<std::mutex> g(lock);
        while (!stopping) {
            auto now = std::chrono::steady_clock::now();
            auto soonest = now + std::chrono::hours(1);
            Timer* due = nullptr;
            for (auto& t : timers) {
                if (t.first->next <= now) due = t.first;
                if (t.first->next < soonest) soonest = t.first->next;
            }
            if (!due) {
                wake.wait_until(g, soonest);
                continue;
            }
            due->next = now + due->period;
            due->running = true;
            g.unlock();
            due->callback(due->parameter, TRUE);
            g.lock();
            if (due->orphaned) {
                delete due;
                continue;
            }
            due->running = false;
            wake.notify_all();
        }
    }
};
} // namespace

extern "C" HANDLE CreateTimerQueue() {
    try {
        return static_cast<Handle*>(new TimerQueue);
    } catch (...) {
        return nullptr;
    }
}

extern "C" BOOL CreateTimerQueueTimer(HANDLE* timer, HANDLE queue, WAITORTIMERCALLBACK callback, void* parameter,
                                      DWORD dueMs, DWORD periodMs, ULONG) {
    auto* q = dynamic_cast<TimerQueue*>(static_cast<Handle*>(queue));
    if (!q || !timer || !callback) return FALSE;
    auto* t = new (std::nothrow) Timer;
    if (!t) return FALSE;
    t->callback = callback;
    t->parameter = parameter;
    t->next = std::chrono::steady_clock::now() + std::chrono::milliseconds(dueMs);
    t->period = std::chrono::milliseconds(periodMs ? periodMs : 0x7FFFFFFF);
    {
        std::lock_guard<std::mutex> g(q->lock);
        q->timers[t] = true;
    }
    q->wake.notify_all();
    *timer = t;
    return TRUE;
}

extern "C" BOOL DeleteTimerQueueTimer(HANDLE queue, HANDLE timer, HANDLE completion) {
    auto* q = dynamic_cast<TimerQueue*>(static_cast<Handle*>(queue));
    auto* t = static_cast<Timer*>(static_cast<Handle*>(timer));
    if (!q || !t) return FALSE;
    std::unique_lock<std::mutex> g(q->lock);
    if (!q->timers.erase(t)) return FALSE;
    if (completion == INVALID_HANDLE_VALUE && q->thread.get_id() != std::this_thread::get_id())
        q->wake.wait(g, [t] { return !t->running; });
    if (t->running) {
        t->orphaned = true; // deleted from its own callback, or without waiting: it goes once the callback returns
        return TRUE;
    }
    delete t;
    return TRUE;
}

extern "C" BOOL DeleteTimerQueue(HANDLE queue) {
    auto* q = dynamic_cast<TimerQueue*>(static_cast<Handle*>(queue));
    if (!q) return FALSE;
    delete q;
    return TRUE;
}

// ---- files
namespace {
struct File : Handle {
    int fd = -1;
    ~File() override {
        if (fd >= 0) close(fd);
    }
};

LONG FromErrno(int e) {
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    default: return ERROR_INVALID_PARAMETER;
    }
}

std::string DriveFolder(char letter) {
    std::string base;
    if (const char* c = std::getenv("OGGSOURCE_DRIVE_C"); c && *c) {
        base = c;
        if (letter == 'c') return base;
        return base + "/../drive_" + std::string(1, letter);
    }
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x) base = x;
    else base = std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/.local/state";
    return base + "/oggsource/drive_" + std::string(1, letter);
}

std::string LocalPath(LPCWSTR name) {
    std::string s;
    for (; name && *name; ++name) s += *name == L'\\' ? '/' : static_cast<char>(*name < 0x80 ? *name : '_');
    if (s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0])))
        s = DriveFolder(static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])))) + s.substr(2);
    return s;
}

void MakeParents(const std::string& path) {
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0755);
}
} // namespace

extern "C" const char* PlatLocalPath(LPCWSTR name, char* buffer, size_t size) {
    std::snprintf(buffer, size, "%s", LocalPath(name).c_str());
    return buffer;
}

extern "C" HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void*, DWORD disposition, DWORD, HANDLE) {
    std::string path = LocalPath(name);
    if (name && name[0] && name[1] == L':') MakeParents(DriveFolder('c') + "/"); // the drive itself exists
    int flags = O_CLOEXEC | ((access & GENERIC_WRITE) ? O_RDWR : O_RDONLY) | (disposition == OPEN_ALWAYS ? O_CREAT : 0);
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        SetLastError(static_cast<DWORD>(FromErrno(errno)));
        return INVALID_HANDLE_VALUE;
    }
    // Sharing: a writer that lets others only read holds an exclusive lock; a second writer is refused.
    if ((access & GENERIC_WRITE) && !(share & 0x2) && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    auto* f = new (std::nothrow) File;
    if (!f) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    f->fd = fd;
    return static_cast<Handle*>(f);
}

extern "C" BOOL WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, void*) {
    auto* f = dynamic_cast<File*>(static_cast<Handle*>(file));
    if (!f) return FALSE;
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = write(f->fd, static_cast<const char*>(data) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return done == bytes;
}

extern "C" DWORD SetFilePointer(HANDLE file, LONG distance, PLONG, DWORD method) {
    auto* f = dynamic_cast<File*>(static_cast<Handle*>(file));
    if (!f) return INVALID_SET_FILE_POINTER;
    off_t at = lseek(f->fd, distance, method == FILE_END ? SEEK_END : method == 1 ? SEEK_CUR : SEEK_SET);
    return at < 0 ? INVALID_SET_FILE_POINTER : static_cast<DWORD>(at);
}

extern "C" DWORD GetFileSize(HANDLE file, LPDWORD high) {
    auto* f = dynamic_cast<File*>(static_cast<Handle*>(file));
    struct stat st;
    if (!f || fstat(f->fd, &st) != 0) return 0xFFFFFFFFu;
    if (high) *high = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    return static_cast<DWORD>(st.st_size);
}

extern "C" BOOL CreateDirectoryW(LPCWSTR name, void*) {
    if (mkdir(LocalPath(name).c_str(), 0755) == 0) return TRUE;
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : static_cast<DWORD>(FromErrno(errno)));
    return FALSE;
}

extern "C" DWORD GetFileAttributesW(LPCWSTR name) {
    std::string path = LocalPath(name);
    return GetFileAttributesA(path.c_str());
}

extern "C" BOOL CloseHandle(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return FALSE;
    delete static_cast<Handle*>(handle);
    return TRUE;
}
