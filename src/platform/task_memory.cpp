// COM's task memory and the kernel's MulDiv: plain memory and arithmetic, with the kernel's services rather than
// with the COM objects (the demultiplexing core and support use them without any COM object).
#include <climits>
#include <cstdlib>

#include "platform.h"

extern "C" void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb ? cb : 1); }
extern "C" void* CoTaskMemRealloc(void* pv, size_t cb) { return std::realloc(pv, cb ? cb : 1); }
extern "C" void CoTaskMemFree(void* pv) { std::free(pv); }

extern "C" int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    long long num = static_cast<long long>(a) * b;
    long long den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    // Round half away from zero.
    long long q = num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
    if (q > INT32_MAX || q < INT32_MIN) return -1;
    return static_cast<int>(q);
}
