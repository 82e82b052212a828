// The trace log switched on and off without code: the environment variable OGGSOURCE_TRACE (for hosts one
// cannot configure), else the DWORD "Trace" under the source's settings key. Read once per load of the
// module, when a host first asks it for a class; off when neither is there.
#include <atomic>
#include <cstdlib>

#include "server.h"
#include "support/trace.h"

namespace {
// What "on" means: lines into the trace file, with the time and the thread of each.
constexpr DWORD kTraceOn = TRACE_ON | TRACE_FILE | TRACE_TIME | TRACE_THREAD;

// 0: off; a value with TRACE_ON set: the flag word itself; any other value: on.
DWORD FlagWord(DWORD value) {
    if (value == 0) return TRACE_SHIPPED;
    return (value & TRACE_ON) ? value : kTraceOn;
}

// OGGSOURCE_TRACE as a number (decimal, or hexadecimal after 0x); false when unset or not a number.
bool FromEnvironment(DWORD* value) {
    const char* text = std::getenv(OGGSOURCE_TRACE_ENVIRONMENT);
    if (!text || !*text) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 0);
    if (*end) return false;
    *value = static_cast<DWORD>(v);
    return true;
}

bool FromKey(HKEY root, const char* path, DWORD* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, data = 0, cb = sizeof data;
    const bool found = RegQueryValueExA(key, OGGSOURCE_TRACE_VALUE, nullptr, &type,
                                        reinterpret_cast<BYTE*>(&data), &cb) == ERROR_SUCCESS &&
                       type == REG_DWORD && cb == sizeof data;
    RegCloseKey(key);
    if (found) *value = data;
    return found;
}

// The user's own classes first, as Windows' view of HKEY_CLASSES_ROOT gives them (Wine 8 does not merge them
// into it), so that a user switches the log on without administrator rights.
bool FromRegistry(DWORD* value) {
    return FromKey(HKEY_CURRENT_USER, "Software\\Classes\\" OGGSOURCE_SETTINGS_KEY, value) ||
           FromKey(HKEY_CLASSES_ROOT, OGGSOURCE_SETTINGS_KEY, value);
}
} // namespace

void ApplyTraceSwitch() {
    static std::atomic<bool> read{false};
    if (read.exchange(true)) return;
    DWORD value = 0;
    if (!FromEnvironment(&value) && !FromRegistry(&value)) return;
    // The flag word, fixed at its shipped value before, is set here: users switch the log on without code.
    g_dwTraceFlags = FlagWord(value);
    Trace("\noggsource %d.%d.%d: trace flags 0x%lx", OGGSOURCE_VERSION_MAJOR, OGGSOURCE_VERSION_MINOR,
          OGGSOURCE_VERSION_PATCH, static_cast<unsigned long>(g_dwTraceFlags));
}
