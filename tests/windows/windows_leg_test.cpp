// The Windows build of the module, registered with regsvr32 and played under Wine by the Windows build
// of the host, against the Linux build: file by file, the same samples and the same events.
//
// Needs the Windows leg prepared (./run windows): OGGSOURCE_WINDOWS_BUILD (the cross build's folder), its
// architecture OGGSOURCE_WINDOWS_ARCH (x64 or x86), the other architecture's build
// OGGSOURCE_WINDOWS_OTHER_BUILD, the package OGGSOURCE_PACKAGE, and WINEPREFIX (a prefix made by wineboot,
// with Wine's 32-bit half).
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <unistd.h>

#include "common/fixtures.h"
#include "common/shell.h"
#include "wine_commands.h"

namespace {
const char kClsid[] = "{D3A2C1B4-7E58-4F2A-9B6C-1E0F3A5D7C92}";
// The class key; a 32-bit process's COM reads it in the registry's 32-bit view (reg's /reg:32).
const char kClassKey[] = "HKLM\\Software\\Classes\\CLSID\\{D3A2C1B4-7E58-4F2A-9B6C-1E0F3A5D7C92}\\InprocServer32";
const char kHandlerKey[] = "HKCU\\Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\.OGG";

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The module path registered for our class in the view of architecture `arch` (x64 or x86), "" when none is.
std::string RegisteredModule(const std::string& arch) {
    const std::string view = arch == "x86" ? " /reg:32" : " /reg:64";
    ShellOutput o = Wine(std::string("reg query ") + Quote(kClassKey) + " /ve" + view);
    if (o.status != 0) return "";
    size_t at = o.text.find("REG_SZ");
    if (at == std::string::npos) return "";
    std::string v = o.text.substr(at + 6);
    v.erase(0, v.find_first_not_of(" \t"));
    v.erase(v.find_last_not_of(" \t\r\n") + 1);
    return v;
}

bool HandlerRegistered() {
    return Wine(std::string("reg query ") + Quote(kHandlerKey) + " /v " + kClsid).status == 0;
}

// One play's JSON Lines, split per stream (-1: the source's events).
struct Play {
    int status = -1;
    std::map<long, std::vector<nlohmann::json>> samples;
    std::map<long, std::vector<std::string>> events;
};

Play Parse(const ShellOutput& o) {
    Play p;
    p.status = o.status;
    size_t at = 0;
    while (at < o.text.size()) {
        size_t end = o.text.find('\n', at);
        if (end == std::string::npos) end = o.text.size();
        std::string line = o.text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back(); // the Windows console's line ends
        if (line.empty()) continue;
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << "not JSON: " << line;
        if (j.is_discarded()) continue;
        long stream = j["stream"].is_null() ? -1 : j["stream"].get<long>();
        if (j["type"] == "sample") p.samples[stream].push_back(j);
        else if (j["type"] == "format") p.events[stream].push_back(j.dump()); // a new format: all its fields
        else p.events[stream].push_back(j["name"].get<std::string>() + " " + j["status"].get<std::string>());
    }
    return p;
}

// The probe's fields that both builds can read: from the source itself, and the basic audio and video
// fields (from the format block on Linux; from the attributes under Wine, which gives no block back).
nlohmann::json Structure(const std::string& text) {
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded()) return j;
    nlohmann::json out{{"duration", j["duration"]},
                       {"characteristics", j["characteristics"]},
                       {"streams", nlohmann::json::array()}};
    for (const auto& s : j["streams"]) {
        nlohmann::json t;
        for (const char* k : {"id", "selected", "codec", "ogm_type", "start", "end", "major", "subtype",
                              "format_type", "media_types", "channels", "sample_rate", "width", "height",
                              "avg_time_per_frame"})
            if (s.contains(k)) t[k] = s[k];
        out["streams"].push_back(t);
    }
    return out;
}

// Bumps the file version in a copy of the module's VERSIONINFO (VS_FIXEDFILEINFO follows its signature).
bool MakeNewerCopy(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    size_t at = bytes.find(signature);
    if (at == std::string::npos || bytes.find(signature, at + 1) != std::string::npos || at + 12 > bytes.size())
        return false;
    bytes[at + 10] = static_cast<char>(bytes[at + 10] + 1); // the major part of dwFileVersionMS
    std::ofstream out(to, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The machine a PE file is built for (IMAGE_FILE_HEADER.Machine: 0x8664 x86-64, 0x14c i386), 0 when not PE.
unsigned PeMachine(const std::string& path) {
    const std::string b = ReadFile(path);
    auto byte = [&](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(b[at])); };
    if (b.size() < 0x40 || b.compare(0, 2, "MZ") != 0) return 0;
    const size_t pe = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | static_cast<size_t>(byte(0x3F)) << 24;
    if (pe + 6 > b.size() || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
    return byte(pe + 4) | byte(pe + 5) << 8;
}

// "MAJOR.MINOR.PATCH" of a module's VERSIONINFO (VS_FIXEDFILEINFO after its signature), "" without one.
std::string FileVersion(const std::string& path) {
    const std::string b = ReadFile(path);
    const size_t at = b.find(std::string("\xBD\x04\xEF\xFE", 4));
    if (at == std::string::npos || at + 16 > b.size()) return "";
    auto word = [&](size_t o) {
        return static_cast<unsigned>(static_cast<unsigned char>(b[o])) | static_cast<unsigned char>(b[o + 1])
                                                                             << 8;
    };
    // dwFileVersionMS (major, minor) at 8, dwFileVersionLS (patch, 0) at 12, each word little-endian.
    return std::to_string(word(at + 10)) + "." + std::to_string(word(at + 8)) + "." +
           std::to_string(word(at + 14));
}

// The oggsource.dll that the host loaded to probe `file`, from Wine's loader trace (lower case, "" if none).
std::string LoadedModule(const std::string& host, const std::string& file) {
    const ShellOutput o = RunShell("WINEDEBUG=+loaddll wine " + Quote(host) + " probe --json " +
                                   Quote(WinePath(file)) + " 2>&1 >/dev/null");
    for (size_t at = 0; (at = o.text.find("Loaded L\"", at)) != std::string::npos; ++at) {
        const size_t end = o.text.find('"', at + 9);
        if (end == std::string::npos) break;
        std::string path = Lower(o.text.substr(at + 9, end - at - 9));
        for (size_t d; (d = path.find("\\\\")) != std::string::npos;)
            path.erase(d, 1); // '\' comes twice
        if (path.size() >= 14 && path.compare(path.size() - 14, 14, "\\oggsource.dll") == 0) return path;
    }
    return "";
}

class WindowsLeg : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Wine's error messages kept (a failing command's stderr goes to the log), its fixme notes left out.
        setenv("WINEDEBUG", "fixme-all", 0);
        s_registry = std::string(::testing::TempDir()) + "/windows-leg-" + std::to_string(getpid()) + ".reg";
        setenv("OGGSOURCE_REGISTRY", s_registry.c_str(), 1);
        s_server = StartPersistentWineServer();
    }
    static void TearDownTestSuite() {
        Command("wineserver -k");
        unlink(s_registry.c_str());
        unlink((s_registry + ".lock").c_str());
    }
    void SetUp() override {
        const char* build = std::getenv("OGGSOURCE_WINDOWS_BUILD");
        const char* prefix = std::getenv("WINEPREFIX");
        ASSERT_TRUE(build && prefix) << "run through ./run windows: it builds the Windows leg and prepares a Wine prefix";
        ASSERT_TRUE(s_server) << "wineserver -p did not start a persistent server for " << prefix;
        m_build = build;
        m_prefix = prefix;
        const char* arch = std::getenv("OGGSOURCE_WINDOWS_ARCH");
        const char* other = std::getenv("OGGSOURCE_WINDOWS_OTHER_BUILD");
        m_arch = arch ? arch : "x64";
        ASSERT_TRUE(m_arch == "x64" || m_arch == "x86") << m_arch;
        m_other = other ? other : "";
        m_host = m_build + "/tools/oggsource/oggsource.exe";
        m_module = m_build + "/src/server/oggsource.dll";
        ASSERT_EQ(Command(Quote(OGGSOURCE_TOOL_PATH) + " register").status, 0);
        ASSERT_EQ(Regsvr32(m_module).status, 0);
        // regsvr32 has returned: what it wrote is there for the next process to read. Once in about twenty
        // suites under load, Wine's reg did not find it right after a fresh server's first regsvr32: it is
        // asked again for up to 2 s (regsvr32 is not run again), and a miss is told with what is there.
        bool registered = HandlerRegistered();
        for (int i = 0; i < 10 && !registered; ++i) {
            std::fprintf(stderr, "the handler entry is not there yet after regsvr32: asked again\n");
            usleep(200 * 1000);
            registered = HandlerRegistered();
        }
        ASSERT_TRUE(registered) << "regsvr32 returned 0 without the handler entry; class registered to \""
                                << RegisteredModule(m_arch)
                                << "\"; servers: " << RunShell("pgrep -a wineserver").text;
    }

    // " --stream ID" for every stream of the file that has a media type (what the Source Reader reads).
    static std::string PlayableStreams(const std::string& file) {
        nlohmann::json probe = nlohmann::json::parse(
            Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + Quote(file)).text, nullptr, false);
        std::string streams;
        if (probe.is_discarded()) return streams;
        for (const auto& s : probe["streams"])
            if (!s["major"].is_null()) streams += " --stream " + std::to_string(s["id"].get<uint32_t>());
        return streams;
    }
    Play LinuxPlay(const std::string& file, const std::string& options) {
        return Parse(Command(Quote(OGGSOURCE_TOOL_PATH) + " play --json " + options + " " + Quote(file)));
    }
    Play WindowsPlay(const std::string& file, const std::string& options) {
        return Parse(Wine(Quote(m_host) + " play --json " + options + " " + Quote(WinePath(file))));
    }

    static std::string s_registry;
    static bool s_server;
    std::string m_build, m_prefix, m_host, m_module, m_arch, m_other;
};
std::string WindowsLeg::s_registry;
bool WindowsLeg::s_server = false;

const char* const kFiles[][2] = {
    {"vorbis-theora", R"({"seed": 1, "streams": [{"kind": "theora", "serial": 1, "seconds": 3, "keyint": 12},
        {"kind": "vorbis", "serial": 2, "seconds": 3}]})"},
    {"ogm", R"({"seed": 2, "streams": [{"kind": "ogm_video", "serial": 3, "packets": 60, "key_every": 10,
        "length_bytes": 2}, {"kind": "ogm_audio", "serial": 4, "packets": 50},
        {"kind": "ogm_text", "serial": 5, "packets": 4}]})"},
    {"directx", R"({"seed": 3, "streams": [{"kind": "directx", "serial": 6, "media": "video", "fourcc": "MP42",
        "packets": 30, "width": 64, "height": 48}, {"kind": "directx", "serial": 7, "media": "audio", "packets": 30}]})"},
    {"dshow", R"({"seed": 4, "streams": [{"kind": "dshow", "serial": 8, "media": "video", "packets": 30},
        {"kind": "dshow", "serial": 9, "media": "audio", "format_tag": 65534, "packets": 30, "extra": "0a0b0c"}]})"},
    {"pages", R"({"seed": 5, "streams": [{"kind": "vorbis", "serial": 10, "seconds": 2, "flush_every": 1,
        "empty_packet_every": 7}, {"kind": "ogm_video", "serial": 11, "packets": 40, "big_packet_every": 5,
        "big_packet_size": 20000}, {"kind": "unknown", "serial": 12, "packets": 5}]})"},
    {"many", R"({"seed": 6, "streams": [{"kind": "vorbis", "serial": 20, "count": 3, "serial_step": 1, "seconds": 1}]})"},
    {"damaged", R"({"seed": 7, "streams": [{"kind": "theora", "serial": 30, "seconds": 2},
        {"kind": "vorbis", "serial": 31, "seconds": 2}], "damage": {"garbage": {"every": 3, "bytes": 50},
        "drop_pages": [7]}})"},
    // Serial numbers of 2^31 and more (ffmpeg draws them at random): ids that a 32-bit long cannot hold.
    {"big-serials", R"({"seed": 8, "streams": [{"kind": "vorbis", "serial": 3000000001, "seconds": 2},
        {"kind": "theora", "serial": 4294967290, "seconds": 2, "width": 64, "height": 48}]})"},
};

// The samples of a stream from the start of its last run: from its last discontinuity sample (and the one-byte
// start sample that a text stream's run begins with, flagged too), with the codec headers that go before it.
// Two runs can follow each other with one sample each: each discontinuity sample begins a run of its own.
std::vector<nlohmann::json> LastRun(const std::vector<nlohmann::json>& samples) {
    auto discontinuity = [&](size_t i) { return samples[i]["discontinuity"].get<bool>(); };
    size_t at = samples.size();
    while (at > 0 && !discontinuity(at - 1)) --at;
    if (at > 0) --at;
    if (at > 0 && discontinuity(at - 1) && samples[at - 1]["size"] == 1 && samples[at - 1]["duration"] == 1) --at;
    // The codec headers ahead of the run, once: an earlier run that was cut before its first data sample left its
    // own copy of them just before (how far a run gets before the seek depends on the host's pace).
    const size_t first = at;
    auto seen = [&](const nlohmann::json& s) { return std::find(samples.begin() + static_cast<long>(at), samples.begin() + static_cast<long>(first), s) != samples.begin() + static_cast<long>(first); };
    while (at > 0 && samples[at - 1]["time"] == 0 && samples[at - 1]["duration"] == 0 && !samples[at - 1]["clean"].get<bool>() &&
           !seen(samples[at - 1]))
        --at;
    return std::vector<nlohmann::json>(samples.begin() + static_cast<long>(at), samples.end());
}

TEST_F(WindowsLeg, EveryKindOfFilePlaysAlikeOnBothBuilds) {
    for (const auto& [name, description] : kFiles) {
        SCOPED_TRACE(name);
        Fixture f = MakeFile(std::string("windows-") + name, description);
        for (const char* options : {"", "--start 0.5"}) {
            SCOPED_TRACE(std::string("play ") + options);
            Play linux = LinuxPlay(f.path, options);
            Play windows = WindowsPlay(f.path, options);
            ASSERT_EQ(linux.status, 0);
            EXPECT_EQ(windows.status, 0);
            EXPECT_FALSE(linux.samples.empty());
            for (const auto& [stream, samples] : linux.samples) {
                SCOPED_TRACE("stream " + std::to_string(stream));
                const auto& other = windows.samples[stream];
                EXPECT_EQ(other.size(), samples.size());
                for (size_t i = 0; i < std::min(samples.size(), other.size()); ++i)
                    ASSERT_EQ(other[i], samples[i]) << "sample " << i;
            }
            EXPECT_EQ(windows.samples.size(), linux.samples.size());
            EXPECT_EQ(windows.events, linux.events);
        }
        ShellOutput lp = Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + Quote(f.path));
        ShellOutput wp = Wine(Quote(m_host) + " probe --json " + Quote(WinePath(f.path)));
        EXPECT_EQ(wp.status, 0);
        EXPECT_EQ(Structure(wp.text), Structure(lp.text));
        unlink(f.path.c_str());
    }
}

// The system's Source Reader, a client nobody here wrote, reads through the registered module what the Linux
// host's play delivers: per stream the same samples, from the start, from a start position, and after a seek
// made while reading (compared from the last run on: what came before it depends on the reader's pace).
TEST_F(WindowsLeg, TheSourceReaderReadsWhatPlayDelivers) {
    for (const char* name : {"vorbis-theora", "ogm", "directx", "dshow", "big-serials"}) {
        SCOPED_TRACE(name);
        const char* description = nullptr;
        for (const auto& [n, d] : kFiles)
            if (std::string(n) == name) description = d;
        ASSERT_NE(description, nullptr);
        Fixture f = MakeFile(std::string("read-") + name, description);
        // The reader reads every stream that has a media type: play is given the same streams.
        nlohmann::json probe = nlohmann::json::parse(Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + Quote(f.path)).text);
        std::string streams;
        std::set<uint32_t> text;
        for (const auto& s : probe["streams"]) {
            if (!s["major"].is_null()) streams += " --stream " + std::to_string(s["id"].get<uint32_t>());
            if (s["major"] == "text") text.insert(s["id"].get<uint32_t>());
        }
        for (const char* options : {"", "--start 0.5", "--seek-at 1:0.2"}) {
            SCOPED_TRACE(std::string("read ") + options);
            Play linux = LinuxPlay(f.path, streams + " " + options);
            Play windows = Parse(Wine(Quote(m_host) + " read --json " + options + " " + Quote(WinePath(f.path))));
            ASSERT_EQ(linux.status, 0);
            ASSERT_EQ(windows.status, 0);
            EXPECT_EQ(windows.samples.size(), linux.samples.size());
            const bool seekWhileReading = std::string(options).find("seek-at") != std::string::npos;
            // The runs are compared from the last one on: the system's reader may start the source more than once
            // (before it applies a position; and from 0 twice when its second read comes before the source's
            // started event has reached it) and hands on what came of the earlier runs.
            for (const auto& [stream, samples] : linux.samples) {
                SCOPED_TRACE("stream " + std::to_string(stream));
                // A text stream's few samples: which of them a seek made while reading cuts off depends on the
                // reader's pace, so its last run has no fixed start (the streams it keeps pace with are compared).
                if (seekWhileReading && text.count(static_cast<uint32_t>(stream))) continue;
                auto ours = LastRun(samples);
                auto theirs = LastRun(windows.samples[stream]);
                ASSERT_FALSE(ours.empty());
                EXPECT_EQ(theirs.size(), ours.size());
                for (size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i) ASSERT_EQ(theirs[i], ours[i]) << "sample " << i;
            }
        }
        unlink(f.path.c_str());
    }
}

// The system's Media Session, a third client nobody here wrote: every stream with a media type connected to a sample
// grabber sink in its own type (no decoder) that takes each sample when the presentation clock reaches it. Every sample
// of the Linux host's play arrives, in order, per stream (from the start, from a start position, across a pause and a
// resume, at rate 2), and the session ends: a session that has not sent MESessionEnded within 30 s (the files last
// 8 s at most) fails, as a player would sit at the end.
TEST_F(WindowsLeg, TheMediaSessionGetsWhatPlayDeliversAndEnds) {
    Fixture av = MakeFile("session-av", R"({"seed": 9, "streams": [{"kind": "theora", "serial": 1, "seconds": 8, "keyint": 12},
        {"kind": "vorbis", "serial": 2, "seconds": 8}]})");
    Fixture dx = MakeFile("session-directx", kFiles[2][1]);
    const struct {
        const Fixture* file;
        const char* session;
        const char* play; // what the Linux host does for the same samples
    } runs[] = {{&av, "", ""}, {&av, "--start 5", "--start 5"}, {&av, "--pause", ""}, {&av, "--rate 2", "--rate 2"}, {&dx, "", ""}};
    for (const auto& run : runs) {
        SCOPED_TRACE(std::string(run.file == &av ? "session-av" : "session-directx") + " " + run.session);
        nlohmann::json probe = nlohmann::json::parse(Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + Quote(run.file->path)).text);
        std::string streams;
        for (const auto& s : probe["streams"])
            if (!s["major"].is_null()) streams += " --stream " + std::to_string(s["id"].get<uint32_t>());
        Play linux = LinuxPlay(run.file->path, streams + " " + run.play);
        Play windows = Parse(Wine(Quote(m_host) + " session --timeout 30 " + run.session + " " + Quote(WinePath(run.file->path))));
        ASSERT_EQ(linux.status, 0);
        EXPECT_EQ(windows.status, 0) << "the session failed or did not send MESessionEnded within 30 s";
        EXPECT_FALSE(linux.samples.empty());
        for (const auto& [stream, samples] : linux.samples) {
            SCOPED_TRACE("stream " + std::to_string(stream));
            const auto& theirs = windows.samples[stream];
            EXPECT_EQ(theirs.size(), samples.size());
            for (size_t i = 0; i < std::min(samples.size(), theirs.size()); ++i) ASSERT_EQ(theirs[i], samples[i]) << "sample " << i;
        }
        EXPECT_EQ(windows.samples.size(), linux.samples.size());
    }
    unlink(av.path.c_str());
    unlink(dx.path.c_str());
}

// Per stream, the same samples in the same order (times, durations, sizes, flags, payload CRC-32).
void ExpectSameSamples(const Play& theirs, const Play& ours) {
    EXPECT_FALSE(ours.samples.empty());
    for (const auto& [stream, samples] : ours.samples) {
        SCOPED_TRACE("stream " + std::to_string(stream));
        const auto found = theirs.samples.find(stream);
        ASSERT_TRUE(found != theirs.samples.end()) << "no sample of this stream";
        EXPECT_EQ(found->second.size(), samples.size());
        for (size_t i = 0; i < std::min(samples.size(), found->second.size()); ++i)
            ASSERT_EQ(found->second[i], samples[i]) << "sample " << i;
    }
    EXPECT_EQ(theirs.samples.size(), ours.samples.size());
}

// A chain whose second link has other formats (picture size, sample rate, channels).
const char kChain[] =
    R"({"links": [{"streams": [{"kind": "theora", "serial": 5, "seconds": 1, "width": 64, "height": 48},
    {"kind": "vorbis", "serial": 6, "seconds": 1}]}, {"streams": [{"kind": "theora", "serial": 7, "seconds": 1,
    "width": 96, "height": 64}, {"kind": "vorbis", "serial": 8, "seconds": 1, "rate": 22050, "channels": 1}]}]})";

// A stream that can neither seek nor tell its length (a pipe, a plain HTTP reply): the Windows host wraps the
// system's file byte stream so (--unseekable), names it without an extension and announces its MIME type,
// which alone finds the handler; the Linux host makes the same stream of the stand-in's fault byte stream.
// The probe shows no duration and no MFMEDIASOURCE_CAN_SEEK (the same file as a file has both); through the
// resolver, and through the system's Source Reader, the Windows build delivers per stream what the Linux
// build's play delivers from such a stream, which is every sample of the seekable play; a MIME type that no
// handler is registered for opens nothing.
// Tags and descriptor attributes of files made by the encoders: through the resolver's source (probe: the
// property store, the descriptors) and through the Source Reader (its GetServiceForStream and
// GetPresentationAttribute), the Windows build gives what the Linux build gives, and that holds what was put
// in; a player built on mfplay reads the same tags as the source's store.
TEST_F(WindowsLeg, TagsReachTheResolversSourceAndTheSourceReaderAsOnLinux) {
    char tmpl[] = "/tmp/oggsource-wtags-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    auto path = [&](const std::string& name) { return Quote(dir + "/" + name); };
    ASSERT_EQ(Command("ffmpeg -v error -y -f lavfi -i sine=f=440:d=2 -ac 2 " + path("in.wav")).status, 0);
    ASSERT_EQ(
        Command("ffmpeg -v error -y -f lavfi -i color=red:s=32x24 -frames:v 1 " + path("cover.png")).status,
        0);
    ASSERT_EQ(Command("opusenc --quiet --title Lied --artist 'S\xc3\xa4ngerin' --artist Chor --album Platte "
                      "--tracknumber 7 --date 1999 --comment LANGUAGE=fr --picture " +
                      path("cover.png") + " " + path("in.wav") + " " + path("o.opus"))
                  .status,
              0);
    ASSERT_EQ(
        Command("ffmpeg -v error -y -f lavfi -i testsrc=s=64x48:r=25:d=1 -f lavfi -i sine=d=1 -map 0 -map 1 "
                "-c:v libtheora -c:a libvorbis -metadata title=Film -metadata:s:a:0 language=eng "
                "-metadata:s:a:0 title=Original " +
                path("f.ogv"))
            .status,
        0);
    for (const char* name : {"o.opus", "f.ogv"}) {
        SCOPED_TRACE(name);
        const std::string file = dir + "/" + name;
        const nlohmann::json linux = nlohmann::json::parse(
            Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + Quote(file)).text, nullptr, false);
        const nlohmann::json windows = nlohmann::json::parse(
            Wine(Quote(m_host) + " probe --json " + Quote(WinePath(file))).text, nullptr, false);
        const nlohmann::json reader = nlohmann::json::parse(
            Wine(Quote(m_host) + " read --tags " + Quote(WinePath(file))).text, nullptr, false);
        ASSERT_FALSE(linux.is_discarded() || windows.is_discarded() || reader.is_discarded());
        // What was put in, so that agreeing on nothing cannot pass.
        EXPECT_EQ(linux["tags"]["title"], std::string(name) == "o.opus" ? "Lied" : "Film");
        EXPECT_EQ(windows["tags"], linux["tags"]);
        EXPECT_EQ(reader["tags"], linux["tags"]);
        EXPECT_EQ(windows["mime_type"], linux["mime_type"]);
        EXPECT_EQ(reader["mime_type"], linux["mime_type"]);
        std::map<uint32_t, std::pair<nlohmann::json, nlohmann::json>> want;
        for (const auto& st : linux["streams"])
            want[st["id"].get<uint32_t>()] = {st["language"], st["name"]};
        ASSERT_EQ(reader["streams"].size(), want.size());
        for (const auto& st : reader["streams"]) {
            const auto& w = want[st["id"].get<uint32_t>()];
            EXPECT_EQ(st["language"], w.first) << st["id"];
            EXPECT_EQ(st["name"], w.second) << st["id"];
        }
        for (const auto& st : windows["streams"]) {
            const auto& w = want[st["id"].get<uint32_t>()];
            EXPECT_EQ(st["language"], w.first) << st["id"];
        }
        // The views of tags both builds have: the source's store, its provider, and the shell property
        // handler made with CoCreateInstance over a stream of the file (as Explorer would, with the system's
        // propsys here).
        nlohmann::json linuxViews = nlohmann::json::parse(
            Command(Quote(OGGSOURCE_TOOL_PATH) + " tags --json " + Quote(file)).text, nullptr, false);
        nlohmann::json windowsViews = nlohmann::json::parse(
            Wine(Quote(m_host) + " tags --json " + Quote(WinePath(file))).text, nullptr, false);
        ASSERT_FALSE(linuxViews.is_discarded() || windowsViews.is_discarded());
        ASSERT_FALSE(linuxViews["shell"].contains("error")) << linuxViews.dump();
        EXPECT_EQ(linuxViews["shell"], linuxViews["store"]);
        // A fourth view on Windows only: a player built on mfplay (its media item's GetMetadata, a source the
        // resolver made from the path). The system's mfplay hands out the source's own store, so every key
        // and value is the store's; the title is this file's, so an empty view or another file's fails.
        EXPECT_FALSE(linuxViews.contains("mfplay")) << linuxViews.dump();
        ASSERT_TRUE(windowsViews.contains("mfplay") && windowsViews["mfplay"].is_object())
            << windowsViews.dump();
        const nlohmann::json mfplay = windowsViews["mfplay"], store = windowsViews["store"];
        EXPECT_EQ(mfplay.value("System.Title", nlohmann::json()), linux["tags"]["title"]) << mfplay;
        for (const auto& [key, value] : store.items())
            EXPECT_EQ(mfplay.value(key, nlohmann::json()), value) << key;
        EXPECT_EQ(mfplay.size(), store.size()) << mfplay;
        windowsViews.erase("mfplay");
        linuxViews.erase("file");
        windowsViews.erase("file");
        EXPECT_EQ(windowsViews, linuxViews);
    }
    const nlohmann::json opus =
        nlohmann::json::parse(Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + path("o.opus")).text);
    EXPECT_EQ(opus["tags"]["artist"], (std::vector<std::string>{"S\xc3\xa4ngerin", "Chor"}));
    EXPECT_GT(opus["tags"]["cover_bytes"].get<int>(), 0);
    EXPECT_EQ(opus["streams"][0]["language"], "fr");
    std::system(("rm -rf " + Quote(dir)).c_str());
}

TEST_F(WindowsLeg, AStreamWithoutSeekOrLengthPlaysAlikeThroughTheResolverAndTheSourceReader) {
    const struct {
        const char* name;
        const char* description;
        const char* type;
    } files[] = {
        {"audio", R"({"streams": [{"kind": "flac", "serial": 1, "seconds": 2, "extra_headers": 1},
            {"kind": "vorbis", "serial": 2, "seconds": 2}]})",
         "audio/ogg"},
        {"av", kFiles[0][1], "video/ogg"},
        {"chain", kChain, "video/ogg"},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        Fixture f = MakeFile(std::string("unseekable-") + file.name, file.description);
        const std::string unseekable = std::string("--unseekable --content-type ") + file.type;

        const ShellOutput lp =
            Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + unseekable + " " + Quote(f.path));
        const ShellOutput wp =
            Wine(Quote(m_host) + " probe --json " + unseekable + " " + Quote(WinePath(f.path)));
        const ShellOutput seekable = Command(Quote(OGGSOURCE_TOOL_PATH) + " probe --json " + Quote(f.path));
        ASSERT_EQ(lp.status, 0);
        ASSERT_EQ(wp.status, 0);
        EXPECT_EQ(Structure(wp.text), Structure(lp.text));
        for (const nlohmann::json& j : {Structure(lp.text), Structure(wp.text)}) {
            EXPECT_TRUE(j["duration"].is_null()) << j.dump();
            ASSERT_TRUE(j["characteristics"].is_number()) << j.dump();
            EXPECT_EQ(j["characteristics"].get<uint32_t>() & MFMEDIASOURCE_CAN_SEEK, 0u) << j.dump();
        }
        // What the stream itself says, as the host made it on each build: no seek, no length.
        for (const std::string& text : {lp.text, wp.text}) {
            const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
            ASSERT_FALSE(j.is_discarded()) << text;
            const nlohmann::json stream = j.value("byte_stream", nlohmann::json::object());
            ASSERT_TRUE(stream["capabilities"].is_number()) << text;
            EXPECT_EQ(stream["capabilities"].get<uint32_t>() & MFBYTESTREAM_IS_SEEKABLE, 0u) << text;
            EXPECT_TRUE(stream.contains("length") && stream["length"].is_null()) << text;
            EXPECT_EQ(stream.value("seek_ahead", ""), "MF_E_BYTESTREAM_NOT_SEEKABLE (0xC00D36EE)") << text;
            EXPECT_EQ(stream.value("seek_here", ""), "S_OK (0x00000000)") << text;
        }
        const nlohmann::json asFile = Structure(seekable.text);
        EXPECT_TRUE(asFile["duration"].is_number());
        EXPECT_NE(asFile["characteristics"].get<uint32_t>() & MFMEDIASOURCE_CAN_SEEK, 0u);

        {
            SCOPED_TRACE("play " + unseekable);
            Play linux = LinuxPlay(f.path, unseekable);
            Play windows = WindowsPlay(f.path, unseekable);
            Play plain = LinuxPlay(f.path, "");
            ASSERT_EQ(linux.status, 0);
            ASSERT_EQ(plain.status, 0);
            EXPECT_EQ(windows.status, 0);
            ExpectSameSamples(linux, plain);
            ExpectSameSamples(windows, linux);
            EXPECT_EQ(windows.events, linux.events);
        }
        {
            SCOPED_TRACE("read " + unseekable);
            Play linux = LinuxPlay(f.path, PlayableStreams(f.path) + " " + unseekable);
            Play windows =
                Parse(Wine(Quote(m_host) + " read --json " + unseekable + " " + Quote(WinePath(f.path))));
            ASSERT_EQ(linux.status, 0);
            EXPECT_EQ(windows.status, 0);
            ExpectSameSamples(windows, linux);
        }
        unlink(f.path.c_str());
    }
    Fixture f = MakeFile("unseekable-type", kFiles[0][1]);
    EXPECT_NE(WindowsPlay(f.path, "--unseekable --content-type text/plain").status, 0);
    EXPECT_NE(LinuxPlay(f.path, "--unseekable --content-type text/plain").status, 0);
    unlink(f.path.c_str());
}

// regsvr32 registers every Ogg name (extensions and MIME types); under Wine an .oga of FLAC and Vorbis, an .opus,
// a Speex .spx and a chain of links of other formats play as on Linux (samples, events, the formats announced).
TEST_F(WindowsLeg, EveryOggNameAndTodaysCodecsUnderWine) {
    for (const char* name : {".OGG", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx", "audio/ogg", "video/ogg", "application/ogg",
                             "audio/opus"}) {
        const std::string key = std::string("HKCU\\Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\") + name;
        EXPECT_EQ(Wine("reg query " + Quote(key) + " /v " + kClsid).status, 0) << name;
    }
    const struct {
        const char* extension;
        const char* description;
    } files[] = {
        {".oga", R"({"streams": [{"kind": "flac", "serial": 1, "seconds": 2, "extra_headers": 1},
            {"kind": "vorbis", "serial": 2, "seconds": 2}]})"},
        {".opus", R"({"streams": [{"kind": "opus", "serial": 3, "seconds": 3, "trim": 200}]})"},
        {".spx", R"({"streams": [{"kind": "speex", "serial": 4, "seconds": 2, "rate": 16000, "frames_per_packet": 2}]})"},
        {".ogv", kChain},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.extension);
        Fixture f = MakeFile("windows-names", file.description);
        const std::string path = f.path + file.extension;
        ASSERT_EQ(rename(f.path.c_str(), path.c_str()), 0);
        for (const char* options : {"", "--start 0.6"}) {
            SCOPED_TRACE(std::string("play ") + options);
            Play linux = LinuxPlay(path, options);
            Play windows = WindowsPlay(path, options);
            ASSERT_EQ(linux.status, 0);
            EXPECT_EQ(windows.status, 0);
            EXPECT_FALSE(linux.samples.empty());
            EXPECT_EQ(windows.samples, linux.samples);
            EXPECT_EQ(windows.events, linux.events);
        }
        unlink(path.c_str());
    }
}

TEST_F(WindowsLeg, Regsvr32RegistersUnregistersAndRespectsOtherCopies) {
    // The other architecture's class (a leg before this one) out of the way: its handler entries would stay.
    ASSERT_FALSE(m_other.empty()) << "OGGSOURCE_WINDOWS_OTHER_BUILD: the other architecture's build";
    ASSERT_EQ(Regsvr32(m_other + "/src/server/oggsource.dll", true).status, 0);
    // regsvr32 wrote the class where Wine's COM looks (HKLM\Software\Classes) and the handler entry.
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(m_module)));
    EXPECT_TRUE(HandlerRegistered());

    const std::string dir = std::string(::testing::TempDir()) + "/windows-copies-" + std::to_string(getpid());
    ASSERT_EQ(Command("mkdir -p " + Quote(dir)).status, 0);
    const std::string same = dir + "/same/oggsource.dll", newer = dir + "/newer/oggsource.dll";
    ASSERT_EQ(Command("mkdir -p " + Quote(dir + "/same") + " " + Quote(dir + "/newer") + " && cp " + Quote(m_module) + " " +
                  Quote(same)).status, 0);
    ASSERT_TRUE(MakeNewerCopy(m_module, newer));

    // A copy of the same version takes the registration over; the first copy then leaves it alone.
    ASSERT_EQ(Regsvr32(same).status, 0);
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(same)));
    ASSERT_EQ(Regsvr32(m_module, true).status, 0);
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(same)));
    EXPECT_TRUE(HandlerRegistered());

    // A newer copy's registration is neither replaced nor removed by an older one.
    ASSERT_EQ(Regsvr32(newer).status, 0);
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(newer)));
    ASSERT_EQ(Regsvr32(m_module).status, 0);
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(newer)));
    ASSERT_EQ(Regsvr32(m_module, true).status, 0);
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(newer)));

    // The owner removes it; then no file plays through our source any more (proof that, registered, the
    // resolver used ours and not a handler of Wine's own).
    ASSERT_EQ(Regsvr32(newer, true).status, 0);
    EXPECT_EQ(RegisteredModule(m_arch), "");
    EXPECT_FALSE(HandlerRegistered());
    Fixture f = MakeFile("windows-unregistered", kFiles[0][1]);
    EXPECT_NE(WindowsPlay(f.path, "").status, 0);

    ASSERT_EQ(Regsvr32(m_module).status, 0);
    EXPECT_EQ(WindowsPlay(f.path, "").status, 0);
    unlink(f.path.c_str());
    Command("rm -rf " + Quote(dir));
}
// The build is of the architecture it is run as, and its host loads its own DLL: a 32-bit host can load only
// a 32-bit DLL, so the x86 leg runs 32-bit code throughout.
TEST_F(WindowsLeg, TheBuildIsOfItsArchitectureAndItsHostLoadsItsOwnDll) {
    const unsigned machine = m_arch == "x86" ? 0x14c : 0x8664;
    EXPECT_EQ(PeMachine(m_module), machine);
    EXPECT_EQ(PeMachine(m_host), machine);
    EXPECT_EQ(PeMachine(m_build + "/tests/windows/header_check.exe"), machine);
    Fixture f = MakeFile("windows-arch", kFiles[0][1]);
    EXPECT_EQ(LoadedModule(m_host, f.path), Lower(WinePath(m_module)));
    unlink(f.path.c_str());
}

// The 64-bit and the 32-bit DLL registered side by side: each in its architecture's view of the classes, the
// handler entries shared. Each host loads its own architecture's DLL; unregistering one leaves the other
// registered and playing (and its host, with no class in its view, plays nothing); the last one removes the
// handler entries.
TEST_F(WindowsLeg, BothArchitecturesRegisterSideBySideAndEachLeavesTheOtherWorking) {
    ASSERT_FALSE(m_other.empty()) << "OGGSOURCE_WINDOWS_OTHER_BUILD: the other architecture's build";
    const std::string otherArch = m_arch == "x86" ? "x64" : "x86";
    const std::string otherModule = m_other + "/src/server/oggsource.dll";
    const std::string otherHost = m_other + "/tools/oggsource/oggsource.exe";
    ASSERT_EQ(PeMachine(otherModule), otherArch == "x86" ? 0x14cu : 0x8664u);
    Fixture f = MakeFile("windows-side-by-side", kFiles[0][1]);
    auto plays = [&](const std::string& host) {
        return Wine(Quote(host) + " play --summary " + Quote(WinePath(f.path))).status == 0;
    };
    ASSERT_EQ(Regsvr32(otherModule).status, 0);
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(m_module)));
    EXPECT_EQ(Lower(RegisteredModule(otherArch)), Lower(WinePath(otherModule)));
    EXPECT_EQ(LoadedModule(m_host, f.path), Lower(WinePath(m_module)));
    EXPECT_EQ(LoadedModule(otherHost, f.path), Lower(WinePath(otherModule)));

    ASSERT_EQ(Regsvr32(otherModule, true).status, 0);
    EXPECT_EQ(RegisteredModule(otherArch), "");
    EXPECT_EQ(Lower(RegisteredModule(m_arch)), Lower(WinePath(m_module)));
    EXPECT_TRUE(HandlerRegistered());
    EXPECT_TRUE(plays(m_host));
    EXPECT_FALSE(plays(otherHost));

    ASSERT_EQ(Regsvr32(otherModule).status, 0);
    ASSERT_EQ(Regsvr32(m_module, true).status, 0);
    EXPECT_EQ(RegisteredModule(m_arch), "");
    EXPECT_EQ(Lower(RegisteredModule(otherArch)), Lower(WinePath(otherModule)));
    EXPECT_TRUE(HandlerRegistered());
    EXPECT_TRUE(plays(otherHost));
    EXPECT_FALSE(plays(m_host));

    ASSERT_EQ(Regsvr32(otherModule, true).status, 0);
    EXPECT_FALSE(HandlerRegistered());
    ASSERT_EQ(Regsvr32(m_module).status, 0);
    EXPECT_TRUE(plays(m_host));
    unlink(f.path.c_str());
}

// The package: named with the version in VERSION (the DLLs' file version too), holding both architectures'
// DLL and host as built, the public header, the README, the license and the notices.
TEST_F(WindowsLeg, ThePackageHoldsBothArchitecturesAndTheDocuments) {
    const char* package = std::getenv("OGGSOURCE_PACKAGE");
    ASSERT_TRUE(package) << "OGGSOURCE_PACKAGE: the zip ./run package made";
    ASSERT_FALSE(m_other.empty());
    const std::string source = OGGSOURCE_SOURCE_DIR;
    std::string version = ReadFile(source + "/VERSION");
    version.erase(version.find_last_not_of(" \r\n") + 1);
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(FileVersion(m_module), version);
    EXPECT_EQ(FileVersion(m_other + "/src/server/oggsource.dll"), version);
    const std::string name = "oggsource-" + version + "-windows";
    const std::string zip = package;
    ASSERT_GE(zip.size(), name.size() + 4);
    EXPECT_EQ(zip.substr(zip.size() - name.size() - 5), "/" + name + ".zip");
    const ShellOutput list = Command("unzip -Z1 " + Quote(zip));
    ASSERT_EQ(list.status, 0);
    std::set<std::string> entries;
    for (size_t at = 0, end; at < list.text.size(); at = end + 1) {
        end = list.text.find('\n', at);
        if (end == std::string::npos) end = list.text.size();
        entries.insert(list.text.substr(at, end - at));
    }
    const std::string x64 = m_arch == "x64" ? m_build : m_other, x86 = m_arch == "x86" ? m_build : m_other;
    const std::pair<std::string, std::string> files[] = {
        {"x64/oggsource.dll", x64 + "/src/server/oggsource.dll"},
        {"x64/oggsource.exe", x64 + "/tools/oggsource/oggsource.exe"},
        {"x86/oggsource.dll", x86 + "/src/server/oggsource.dll"},
        {"x86/oggsource.exe", x86 + "/tools/oggsource/oggsource.exe"},
        {"include/oggsource.h", source + "/include/oggsource.h"},
        {"README.md", source + "/README.md"},
        {"LICENSE", source + "/LICENSE"},
        {"notices/libogg.txt", source + "/notices/libogg.txt"},
        {"notices/libvorbis.txt", source + "/notices/libvorbis.txt"},
        {"notices/libtheora.txt", source + "/notices/libtheora.txt"},
        {"notices/libopus.txt", source + "/notices/libopus.txt"}};
    for (const auto& [entry, original] : files) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(entries.count(name + "/" + entry), 1u);
        EXPECT_EQ(Command("unzip -p " + Quote(zip) + " " + Quote(name + "/" + entry) + " | cmp -s - " +
                          Quote(original))
                      .status,
                  0)
            << "not the file as built";
    }
}

// The public header compiled as C against the SDK's headers (mingw-w64) declares what it declares on Linux.
TEST_F(WindowsLeg, ThePublicHeaderCompiledAsCWithTheSdkDeclaresTheSameValues) {
    ShellOutput windows = Wine(Quote(m_build + "/tests/windows/header_check.exe"));
    ShellOutput linux = RunShell(Quote(HEADER_CHECK_PATH));
    ASSERT_EQ(windows.status, 0);
    ASSERT_EQ(linux.status, 0);
    windows.text.erase(std::remove(windows.text.begin(), windows.text.end(), '\r'), windows.text.end());
    EXPECT_FALSE(linux.text.empty());
    EXPECT_EQ(windows.text, linux.text);
}

// The trace switch as a Windows user uses it: the example .reg files imported with regedit, and the environment
// variable for a host one cannot configure; each play is a process that loads the DLL afresh.
TEST_F(WindowsLeg, TheTraceSwitchFromTheExampleRegFilesAndTheEnvironment) {
    const std::string file = m_prefix + "/drive_c/KESTTrace.txt";
    Fixture f = MakeFile("windows-trace", kFiles[0][1]);
    auto traced = [&](const std::string& environment) {
        unlink(file.c_str());
        EXPECT_EQ(Wine(Quote(m_host) + " play --summary --start 0.5 " + Quote(WinePath(f.path)), environment).status, 0);
        std::ifstream in(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string reg = std::string(OGGSOURCE_SOURCE_DIR) + "/tools/windows/";
    EXPECT_EQ(traced(""), "") << "off as shipped";
    ASSERT_EQ(Wine("regedit /S " + Quote(WinePath(reg + "trace-on.reg"))).status, 0);
    EXPECT_NE(traced("").find("trace flags 0xf"), std::string::npos) << "on from trace-on.reg";
    EXPECT_EQ(traced("OGGSOURCE_TRACE=0 "), "") << "the environment wins over the registry";
    ASSERT_EQ(Wine("regedit /S " + Quote(WinePath(reg + "trace-off.reg"))).status, 0);
    EXPECT_EQ(traced(""), "") << "off again from trace-off.reg";
    EXPECT_NE(traced("OGGSOURCE_TRACE=1 ").find("trace flags 0xf"), std::string::npos) << "on from the environment";
    unlink(file.c_str());
    unlink(f.path.c_str());
}

TEST_F(WindowsLeg, TraceLogOnTheSystemsKernelServices) {
    const std::string file = m_prefix + "/drive_c/KESTTrace.txt";
    unlink(file.c_str());
    ShellOutput o = Wine(Quote(m_build + "/tests/windows/trace_check.exe"));
    ASSERT_EQ(o.status, 0);
    EXPECT_NE(o.text.find("timer 1"), std::string::npos) << "the timer queue wrote without a release";
    EXPECT_NE(o.text.find("file c:\\KESTTrace.txt"), std::string::npos);
    std::ifstream in(file, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all.substr(0, 3), "\xEF\xBB\xBF");
    std::set<std::string> seen, threads;
    for (size_t at = 3; (at = all.find("\r\n", at)) != std::string::npos; at += 2) {
        size_t end = all.find("\r\n", at + 2);
        std::string line = all.substr(at + 2, (end == std::string::npos ? all.size() : end) - at - 2);
        char tid[16], tail[8];
        int t, i;
        ASSERT_EQ(std::sscanf(line.c_str(), "%8[0-9a-f]: line %d.%d %3s", tid, &t, &i, tail), 4) << "torn: " << line;
        seen.insert(std::to_string(t) + "." + std::to_string(i));
        threads.insert(tid);
    }
    EXPECT_EQ(seen.size(), 4u * 200u) << "no line lost";
    EXPECT_EQ(threads.size(), 4u);
}
} // namespace
