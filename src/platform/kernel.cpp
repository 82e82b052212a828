#include "kernel.h"

#include <chrono>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

extern "C" DWORD GetCurrentThreadId() {
    static thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

extern "C" void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
