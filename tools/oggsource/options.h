// Command-line values shared by the verbs: seconds into 100-ns units, and SECONDS:TARGET pairs.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "unseekable_stream.h"

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

// How a verb opens its file: as it is, or (--unseekable) as a stream without seek or length announcing a MIME
// type (--content-type TYPE, audio/ogg by default).
struct OpenOptions {
    bool unseekable = false, typeGiven = false;
    std::string contentType = kUnseekableContentType;
};

// Takes args[*i] (and the value after it) when it is one of the open options; false when it is not one.
inline bool TakeOpenOption(const std::vector<std::string>& args, size_t* i, OpenOptions* o) {
    if (args[*i] == "--unseekable") {
        o->unseekable = true;
        return true;
    }
    if (args[*i] != "--content-type" || *i + 1 >= args.size()) return false;
    o->contentType = args[++*i];
    o->typeGiven = true;
    return true;
}

// What is wrong with the open options for a file (or a URL), or null.
inline const char* OpenOptionsError(const OpenOptions& o, bool isUrl) {
    if (o.typeGiven && !o.unseekable) return "--content-type goes with --unseekable";
    if (o.unseekable && isUrl) return "--unseekable opens files, not URLs";
    return nullptr;
}
} // namespace host
