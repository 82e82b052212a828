#include <cstdio>
#include <nlohmann/json.hpp>

#include "muxer.h"

namespace oggmux {

namespace {
nlohmann::json Packet(const PacketRecord& p) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", p.crc32);
    return {{"size", p.size}, {"raw_size", p.rawSize}, {"granule", p.granule}, {"page", p.page},
            {"crc32", crc},   {"key", p.key},          {"duration", p.duration}};
}
} // namespace

std::string RecordJson(const MuxResult& r) {
    nlohmann::json j;
    j["pages"] = r.pages;
    j["size"] = r.file.size();
    j["links"] = r.linkOffsets;
    j["streams"] = nlohmann::json::array();
    for (const auto& s : r.streams) {
        nlohmann::json js{{"serial", s.serial}, {"kind", KindName(s.kind)}, {"link", s.link}};
        if (s.samplesPerUnit) {
            js["time_unit"] = s.timeUnit;
            js["samples_per_unit"] = s.samplesPerUnit;
        }
        js["headers"] = nlohmann::json::array();
        for (const auto& p : s.headers) js["headers"].push_back(Packet(p));
        js["packets"] = nlohmann::json::array();
        for (const auto& p : s.packets) js["packets"].push_back(Packet(p));
        j["streams"].push_back(std::move(js));
    }
    return j.dump();
}

} // namespace oggmux
