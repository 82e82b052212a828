// The module's object count: every live handler and source, plus the server locks, keep the module loaded.
#pragma once
#include <atomic>

#include "platform/platform.h"

namespace MediaFoundationSamples {
class BaseObject {
public:
    BaseObject() { ++s_objects; }
    virtual ~BaseObject() { --s_objects; }
    static LONG Count() { return s_objects.load(); }
    static void LockServer(bool lock) { lock ? ++s_objects : --s_objects; }

private:
    static inline std::atomic<LONG> s_objects{0};
};
} // namespace MediaFoundationSamples
