// Allocations that fail on purpose, for tests: from the arming on, allocations are counted and the one with
// the index asked for fails (and every one after it, if asked). Unarmed, a check is one atomic load.
// With OGGSOURCE_ALLOC_TRACE set, the stack of the refused allocation goes to stderr.
#include <atomic>
#include <cstdlib>
#include <execinfo.h>

#include "alloc_fault.h"

namespace {
std::atomic<long> g_failAt{-1};
std::atomic<long> g_counted{0};
std::atomic<bool> g_allAfter{false};
} // namespace

extern "C" void PlatFailAllocation(long index, int allAfter) {
    g_failAt = -1;
    g_counted = 0;
    g_allAfter = allAfter != 0;
    g_failAt = index;
}

extern "C" long PlatAllocationsCounted() { return g_counted.load(); }

namespace {
int Refused(bool evenAfter) {
    const long at = g_failAt.load(std::memory_order_relaxed);
    if (at < 0) return 0;
    const long n = g_counted++;
    if (n == at && std::getenv("OGGSOURCE_ALLOC_TRACE")) { // where the refused allocation was asked for
        void* frames[24];
        backtrace_symbols_fd(frames, backtrace(frames, 24), 2);
    }
    return n == at || (evenAfter && g_allAfter && n > at);
}
} // namespace

extern "C" int PlatAllocationRefused() { return Refused(true); }

// The stand-in's own objects fail only at the index itself: with every event and work item refused from
// then on, no component could tell its host anything (a system out of memory for good).
int PlatSystemAllocationRefused() { return Refused(false); }
