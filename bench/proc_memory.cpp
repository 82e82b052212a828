#include "proc_memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {
namespace {
std::string ProcFile(pid_t pid, const char* name) {
    return (pid ? "/proc/" + std::to_string(pid) : std::string("/proc/self")) + "/" + name;
}

long StatusField(pid_t pid, const char* field) {
    FILE* f = std::fopen(ProcFile(pid, "status").c_str(), "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            kb = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    std::fclose(f);
    return kb;
}
} // namespace

long PeakRssKb(pid_t pid) {
    return StatusField(pid, "VmHWM");
}
long RssKb(pid_t pid) {
    return StatusField(pid, "VmRSS");
}

bool ResetPeakRss(pid_t pid) {
    FILE* f = std::fopen(ProcFile(pid, "clear_refs").c_str(), "w");
    if (!f) return false;
    const bool written = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && written;
}
} // namespace bench
