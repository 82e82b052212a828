#include "json_lines.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace host {
namespace {
std::string StatusText(HRESULT hr) {
    const char* name = PlatHResultName(hr);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return name ? name : buf;
}
} // namespace

std::string SampleLine(const Sample& s) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", s.crc);
    nlohmann::json j{{"type", "sample"}, {"stream", s.stream}, {"time", s.time}, {"duration", s.duration},
                     {"size", s.size}, {"clean", s.clean}, {"discontinuity", s.discontinuity}, {"crc32", crc}};
    return j.dump();
}

std::string EventLine(MediaEventType type, int64_t stream, HRESULT status) {
    nlohmann::json j{{"type", "event"}, {"name", EventName(type)}, {"status", StatusText(status)}};
    j["stream"] = stream < 0 ? nlohmann::json(nullptr) : nlohmann::json(stream);
    return j.dump();
}
} // namespace host
