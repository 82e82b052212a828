// Allocation that never throws: the system's objects derive from CNoThrowAlloc, so that `new` gives
// null on failure and every creator reports E_OUTOFMEMORY.
#pragma once
#include <cstddef>
#include <cstdlib>
#include <new>

#include "platform/alloc_fault.h"

class CNoThrowAlloc {
public:
    static void* operator new(std::size_t size) noexcept {
        if (PlatAllocationRefused()) return nullptr; // a test's failure on purpose
        for (;;) {
            if (void* p = std::malloc(size ? size : 1)) return p;
            std::new_handler handler = std::get_new_handler();
            if (!handler) return nullptr;
            try {
                handler();
            } catch (...) {
                return nullptr; // the handler reports failure
            }
        }
    }
    static void operator delete(void* p) noexcept { std::free(p); }
};

// The C runtime's allocators, refused on purpose when a test asks (see alloc_fault.h).
inline void* AllocBytes(std::size_t size) { return PlatAllocationRefused() ? nullptr : std::malloc(size); }
inline void* AllocZeroed(std::size_t count, std::size_t size) {
    return PlatAllocationRefused() ? nullptr : std::calloc(count, size);
}
inline void* ReallocBytes(void* block, std::size_t size) {
    return PlatAllocationRefused() ? nullptr : std::realloc(block, size);
}
