#include "kernel.h"

#include <chrono>
#include <cstdio>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

extern "C" DWORD GetCurrentThreadId() {
    static thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

extern "C" void PlatNameThisThread(const char* name) {
    char shortName[16] = {};
    std::snprintf(shortName, sizeof shortName, "%s", name);
    pthread_setname_np(pthread_self(), shortName);
}

extern "C" void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
