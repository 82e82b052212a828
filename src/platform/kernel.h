// The few kernel services used outside the platform by their Win32 names.
#pragma once
#include "wintypes.h"

extern "C" {
// The calling thread's id, never 0.
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);
// Names the calling thread as the system shows it (at most 15 characters are kept).
void PlatNameThisThread(const char* name);
}

// Time.
struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
extern "C" {
void GetLocalTime(SYSTEMTIME* time);
DWORD GetTickCount();
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
BOOL GetProcessHandleCount(HANDLE process, DWORD* count);
// Goes to the standard error stream when $OGGSOURCE_DEBUG_OUTPUT is set (there is no debugger to ask).
void OutputDebugStringA(LPCSTR text);
}

// The process heap, shared by every module of the process.
extern "C" {
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
}

// Named shared memory, shared by the modules of one process (a process-wide table of named blocks).
#define INVALID_HANDLE_VALUE reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1))
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0xF001F;
extern "C" {
HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD sizeHigh, DWORD sizeLow, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes);
BOOL UnmapViewOfFile(LPCVOID view);
BOOL CloseHandle(HANDLE handle);
}

// Timer queues: each queue runs its timers' callbacks on a thread of its own.
typedef void(WINAPI* WAITORTIMERCALLBACK)(void* parameter, BOOLEAN fired);
extern "C" {
HANDLE CreateTimerQueue();
BOOL CreateTimerQueueTimer(HANDLE* timer, HANDLE queue, WAITORTIMERCALLBACK callback, void* parameter, DWORD dueMs,
                           DWORD periodMs, ULONG flags);
// With completion INVALID_HANDLE_VALUE it waits for a running callback to end.
BOOL DeleteTimerQueueTimer(HANDLE queue, HANDLE timer, HANDLE completion);
BOOL DeleteTimerQueue(HANDLE queue);
}

// Files. A path with a drive letter maps to a folder: c: to $OGGSOURCE_DRIVE_C, else
// $XDG_STATE_HOME/oggsource/drive_c, else ~/.local/state/oggsource/drive_c (other letters beside it);
// backslashes become slashes.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr LONG ERROR_LOCK_VIOLATION = 33;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
extern "C" {
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition, DWORD attributes,
                   HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD high);
BOOL CreateDirectoryW(LPCWSTR name, void* security);
DWORD GetFileAttributesW(LPCWSTR name);
// The local path a Windows path maps to (for tools and tests).
const char* PlatLocalPath(LPCWSTR name, char* buffer, size_t size);
}
