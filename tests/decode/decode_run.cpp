#include "decode_run.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <unistd.h>

#include "common/shell.h"

DecodeRun Decode(const std::string& path, const std::string& options) {
    static int s_runs = 0;
    const std::string dir = std::string(::testing::TempDir()) + "/decode-run-" + std::to_string(getpid()) +
                            "-" + std::to_string(++s_runs);
    RunShell("rm -rf " + Quote(dir) + " && mkdir -p " + Quote(dir));
    const ShellOutput o = RunShell(Quote(OGGSOURCE_TOOL_PATH) + " decode --packets --raw " + Quote(dir) +
                                   " " + options + " " + Quote(path));
    DecodeRun run;
    run.status = o.status;
    std::istringstream in(o.text);
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << "not JSON: " << line;
        if (j.is_discarded()) continue;
        DecodedStream& s = run.streams[j["stream"].get<uint32_t>()];
        if (j["type"] == "unit") {
            s.units.push_back({j["time"].get<int64_t>(), j["position"].get<int64_t>(),
                               j["count"].get<int64_t>(), j["md5"].get<std::string>()});
            continue;
        }
        s.codec = j["codec"];
        s.format = j["format"];
        s.unit = j["unit"];
        s.md5 = j["md5"];
        s.count = j["count"];
        s.any = !j["first"].is_null();
        if (s.any) s.first = j["first"];
    }
    for (auto& [id, s] : run.streams) {
        const std::string raw = dir + "/" + std::to_string(id) + ".raw";
        std::ifstream file(raw, std::ios::binary);
        s.raw.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        const std::string sum = RunShell("md5sum " + Quote(raw)).text;
        s.rawMd5 = sum.substr(0, sum.find(' '));
    }
    RunShell("rm -rf " + Quote(dir));
    return run;
}
