// The process's last network failure, kept as text for a host to show (the HRESULT alone cannot say
// which status or cause it was).
#include "net_error.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "mfapi.h"

namespace {
std::mutex& Lock() {
    static std::mutex* lock = new std::mutex; // never destroyed: streams may fail while the process exits
    return *lock;
}
char g_text[768];
} // namespace

void PlatSetLastNetworkError(const char* text) {
    std::lock_guard<std::mutex> g(Lock());
    std::snprintf(g_text, sizeof g_text, "%s", text ? text : "");
}

extern "C" size_t PlatLastNetworkError(char* text, size_t size) {
    std::lock_guard<std::mutex> g(Lock());
    if (text && size) std::snprintf(text, size, "%s", g_text);
    return std::strlen(g_text);
}
