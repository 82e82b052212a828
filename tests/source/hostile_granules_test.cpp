// Files whose page granule positions were rewritten to extreme values (checksums made right again), as a file
// damaged or crafted on purpose may carry them: probed, played and played from 3 s for every kind of stream. In
// the ASan+UBSan build any signed overflow or out-of-range conversion ends the test; in every build nothing may
// hang, and every time delivered stays on the presentation's timeline.
#include <climits>
#include <functional>
#include <ogg/ogg.h>

#include "common/fixtures.h"

namespace {
const char* kKinds[] = {
    R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 2}, {"kind": "theora", "serial": 2, "seconds": 2, "width": 96, "height": 64, "keyint": 5}]})",
    R"({"streams": [{"kind": "ogm_video", "serial": 3, "packets": 40, "packet_size": 900, "key_every": 5, "length_bytes": 2},
        {"kind": "ogm_audio", "serial": 4, "packets": 40}, {"kind": "ogm_text", "serial": 5, "packets": 3}]})",
    R"({"streams": [{"kind": "directx", "serial": 6, "media": "video", "packets": 30}, {"kind": "dshow", "serial": 7, "media": "audio", "packets": 30}]})",
    R"({"streams": [{"kind": "opus", "serial": 8, "seconds": 2}, {"kind": "flac", "serial": 9, "seconds": 2}, {"kind": "speex", "serial": 10, "seconds": 2}]})",
    R"({"links": [{"streams": [{"kind": "vorbis", "serial": 11, "seconds": 1}]}, {"streams": [{"kind": "vorbis", "serial": 12, "seconds": 1}]}]})",
};

const int64_t kExtremes[] = {INT64_MAX, INT64_MIN, INT64_MAX - 1, INT64_MIN + 1, -2, (int64_t{1} << 62) + 12345,
                             -(int64_t{1} << 62), (int64_t{1} << 40) - 1, INT64_MAX / 10000000};

// Every page from the n-th on (headers spared when `data` is set) gets granule g(k), k its index; checksums redone.
std::vector<uint8_t> Rewrite(std::vector<uint8_t> file, int from, const std::function<int64_t(int)>& g) {
    size_t pos = 0;
    for (int k = 0; pos + 27 <= file.size(); ++k) {
        uint8_t* h = file.data() + pos;
        const int segments = h[26];
        size_t body = 0;
        for (int i = 0; i < segments && pos + 27 + i < file.size(); ++i) body += h[27 + i];
        const size_t total = 27 + static_cast<size_t>(segments) + body;
        if (pos + total > file.size()) break;
        if (k >= from) {
            const uint64_t v = static_cast<uint64_t>(g(k));
            for (int i = 0; i < 8; ++i) h[6 + i] = static_cast<uint8_t>(v >> (8 * i));
            ogg_page og{};
            og.header = h;
            og.header_len = 27 + segments;
            og.body = h + 27 + segments;
            og.body_len = static_cast<long>(body);
            ogg_page_checksum_set(&og);
        }
        pos += total;
    }
    return file;
}
} // namespace

using HostileGranules = SourceTest;

TEST_F(HostileGranules, ExtremeGranulesAreNeitherUndefinedNorAHang) {
    int plays = 0;
    for (size_t k = 0; k < std::size(kKinds); ++k) {
        Fixture f = MakeFile("granules" + std::to_string(k), kKinds[k]);
        std::vector<std::function<int64_t(int)>> patterns;
        for (int64_t x : kExtremes) patterns.push_back([x](int) { return x; });
        patterns.push_back([](int p) { return p % 2 ? INT64_MAX : INT64_MIN; });
        patterns.push_back([](int p) { return p % 3 ? int64_t{1000} * p : INT64_MAX - p; });
        patterns.push_back([](int p) { return p % 4 == 1 ? int64_t{-1} : (int64_t{1} << 61) * (p % 4); });
        for (size_t p = 0; p < patterns.size(); ++p) {
            for (int from : {2, 6}) {
                SCOPED_TRACE(std::string(kKinds[k]) + " pattern " + std::to_string(p) + " from page " + std::to_string(from));
                const std::vector<uint8_t> bytes = Rewrite(f.record.file, from, patterns[p]);
                const std::string path = f.path + ".hostile.ogg";
                {
                    std::ofstream out(path, std::ios::binary);
                    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                }
                OpenedSource s(path);
                if (FAILED(s.hr)) continue; // refused: a clear error
                nlohmann::json probe = Probe(s.source.Get());
                // An end beyond what a time can say is no duration at all.
                EXPECT_TRUE(probe["duration"].is_null() || probe["duration"].get<int64_t>() >= 0) << probe["duration"];
                host::Player player(s.source.Get());
                for (bool at : {false, true}) {
                    host::PlayOptions o;
                    o.timeoutMs = 15000;
                    o.startAt = at;
                    o.start = 30000000;
                    o.maxSamples = 2000;
                    host::PlayResult r = player.Play(o);
                    ++plays;
                    EXPECT_FALSE(r.timedOut);
                    for (const host::Sample& smp : r.samples) EXPECT_GE(smp.duration, 0) << "a sample that lasts less than nothing";
                }
                unlink(path.c_str());
            }
        }
        unlink(f.path.c_str());
    }
    EXPECT_GT(plays, 100);
}
