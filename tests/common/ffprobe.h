// ffprobe as a peer: its streams and packets (with each payload's CRC-32) of a file, and its times in 100-ns units.
#pragma once
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "common/shell.h"

inline nlohmann::json Ffprobe(const std::string& path) {
    return nlohmann::json::parse(
        Shell("ffprobe -v error -show_streams -show_packets -show_data_hash CRC32 -of json " + Quote(path)), nullptr, false);
}

// A packet's (or a stream's) field in the stream's time base, as 100-ns units; 0 when absent.
inline long long FfUnits(const nlohmann::json& packet, const char* field, const nlohmann::json& stream) {
    if (!packet.contains(field)) return 0;
    int num = 1, den = 1;
    std::sscanf(stream["time_base"].get<std::string>().c_str(), "%d/%d", &num, &den);
    const double v = static_cast<double>(std::stoll(packet[field].is_string() ? packet[field].get<std::string>()
                                                                               : std::to_string(packet[field].get<int64_t>())));
    return static_cast<long long>(v * num * 1e7 / den + (v < 0 ? -0.5 : 0.5));
}

// The CRC-32 ffprobe gives a packet ("CRC32:1234abcd"), as our hosts print it.
inline std::string FfCrc(const nlohmann::json& packet) { return packet["data_hash"].get<std::string>().substr(6); }
