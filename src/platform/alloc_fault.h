// Allocations that fail on purpose, for tests: counting starts anew, and the allocation with this 0-based index
// fails (and every one after it with allAfter); an index of -1 disarms. The stand-in's objects and the module's
// allocations ask PlatAllocationRefused first. On Windows nothing is ever refused on purpose.
#pragma once

#ifdef _WIN32
inline int PlatAllocationRefused() { return 0; }
inline int PlatSystemAllocationRefused() { return 0; }
#else
extern "C" {
void PlatFailAllocation(long index, int allAfter);
long PlatAllocationsCounted();
int PlatAllocationRefused();
}
int PlatSystemAllocationRefused(); // the stand-in's own objects: refused at the index only
#endif
