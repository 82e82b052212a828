// The reference count of the module's small COM objects (the ones a host may keep after the source is gone):
// an object alive keeps the module loaded, and the last Release deletes it.
#pragma once
#include <atomic>

#include "base_object.h"
#include "support/alloc.h"

class CModuleObject : public MediaFoundationSamples::BaseObject, public CNoThrowAlloc {
protected:
    CModuleObject() = default;
    ULONG CountReference() { return ++m_refs; }
    ULONG DropReference() {
        const ULONG n = --m_refs;
        if (n == 0) delete this; // the destructor is virtual (BaseObject's)
        return n;
    }

private:
    std::atomic<ULONG> m_refs{1};
};
