// oggsource play: runs a file from Start to the end of the presentation.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host.h"

namespace {
bool ParseSeconds(const std::string& s, LONGLONG* out) {
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end) return false;
    *out = static_cast<LONGLONG>(v * 1e7 + (v < 0 ? -0.5 : 0.5));
    return true;
}
} // namespace

int PlayCommand(const std::vector<std::string>& args) {
    host::PlayOptions options;
    std::string file, mode = "lines";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool more = i + 1 < args.size();
        if (a == "--summary" || a == "--json" || a == "--null") {
            mode = a.substr(2);
        } else if (a == "--start" && more) {
            if (!ParseSeconds(args[++i], &options.start)) return 2;
            options.startAt = true;
        } else if (a == "--rate" && more) {
            options.rate = std::strtof(args[++i].c_str(), nullptr);
        } else if (a == "--stream" && more) {
            options.streams.push_back(static_cast<DWORD>(std::strtoul(args[++i].c_str(), nullptr, 0)));
        } else if (a == "--seek-at" && more) {
            std::string v = args[++i];
            size_t colon = v.find(':');
            if (colon == std::string::npos || !ParseSeconds(v.substr(0, colon), &options.seekWhen) ||
                !ParseSeconds(v.substr(colon + 1), &options.seekTo)) {
                std::fprintf(stderr, "oggsource play: --seek-at wants SECONDS:TARGET\n");
                return 2;
            }
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            std::fprintf(stderr, "oggsource play: unexpected argument %s\n", a.c_str());
            return 2;
        }
    }
    if (file.empty()) {
        std::fprintf(stderr, "usage: oggsource play [options] FILE (see oggsource --help)\n");
        return 2;
    }
    PlatRef<IMFMediaSource> source;
    HRESULT hr = host::OpenFile(file, &source);
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s: cannot be opened (%s)\n", file.c_str(), host::HResultText(hr).c_str());
        return 1;
    }
    auto print = [&](const host::Sample& s) {
        if (mode == "lines")
            std::printf("stream %u time %lld duration %lld size %u%s%s\n", s.stream, static_cast<long long>(s.time),
                        static_cast<long long>(s.duration), s.size, s.clean ? " clean" : "",
                        s.discontinuity ? " discontinuity" : "");
    };
    host::PlayResult r = host::Play(source.Get(), options, print);
    source->Shutdown();
    std::map<DWORD, std::pair<size_t, uint64_t>> perStream;
    for (const auto& s : r.samples) {
        perStream[s.stream].first++;
        perStream[s.stream].second += s.size;
    }
    if (mode == "summary") {
        for (const auto& [id, c] : perStream)
            std::printf("stream %u: %zu samples, %llu bytes\n", id, c.first, static_cast<unsigned long long>(c.second));
        std::printf("%s\n", r.endOfPresentation ? "end of presentation" : "stopped before the end");
    } else if (mode == "json") {
        nlohmann::json j;
        j["file"] = file;
        j["end_of_presentation"] = r.endOfPresentation;
        j["samples"] = nlohmann::json::array();
        for (const auto& s : r.samples)
            j["samples"].push_back({{"stream", s.stream}, {"time", s.time}, {"duration", s.duration}, {"size", s.size},
                                    {"clean", s.clean}, {"discontinuity", s.discontinuity}});
        std::printf("%s\n", j.dump().c_str());
    }
    if (FAILED(r.status) || !r.endOfPresentation) {
        std::fprintf(stderr, "%s: playback failed (%s)\n", file.c_str(), host::HResultText(r.status).c_str());
        return 1;
    }
    return 0;
}
