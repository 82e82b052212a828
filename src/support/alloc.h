// Allocation that never throws: the system's objects derive from CNoThrowAlloc, so that `new` gives
// null on failure and every creator reports E_OUTOFMEMORY.
#pragma once
#include <cstddef>
#include <cstdlib>
#include <new>

class CNoThrowAlloc {
public:
    static void* operator new(std::size_t size) noexcept {
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
