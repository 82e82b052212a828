// Command-line values shared by the verbs: seconds into 100-ns units, and SECONDS:TARGET pairs.
#pragma once
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace host {
inline bool ParseSeconds(const std::string& s, LONGLONG* out) {
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end) return false;
    *out = static_cast<LONGLONG>(v * 1e7 + (v < 0 ? -0.5 : 0.5));
    return true;
}

inline bool ParseSeekAt(const std::string& v, LONGLONG* when, LONGLONG* to) {
    size_t colon = v.find(':');
    return colon != std::string::npos && ParseSeconds(v.substr(0, colon), when) && ParseSeconds(v.substr(colon + 1), to);
}
} // namespace host
