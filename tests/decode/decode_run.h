// One run of `oggsource decode` on a file: what it printed per stream, and each stream's output bytes.
#pragma once
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct DecodedUnit {
    int64_t time = 0, position = 0, count = 0;
    std::string md5;
};

struct DecodedStream {
    std::string codec, format, unit, md5;
    int64_t count = 0;
    int64_t first = 0;
    bool any = false;
    std::vector<DecodedUnit> units;
    std::vector<uint8_t> raw; // the output's bytes (--raw)
    std::string rawMd5;       // md5sum's digest of them
};

struct DecodeRun {
    int status = -1;
    std::map<uint32_t, DecodedStream> streams;
    const DecodedStream* Codec(const std::string& codec) const {
        for (const auto& [id, s] : streams)
            if (s.codec == codec) return &s;
        return nullptr;
    }
};

// `oggsource decode --raw DIR --packets OPTIONS FILE`.
DecodeRun Decode(const std::string& path, const std::string& options = "");
