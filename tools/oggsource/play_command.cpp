// oggsource play: runs a file from Start to the end of the presentation, as a pipeline does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "host.h"
#include "json_lines.h"
#include "options.h"

namespace {
struct StreamTotals {
    size_t samples = 0, clean = 0;
    uint64_t bytes = 0;
    LONGLONG first = -1, last = -1;
};

// A progress bar on a terminal, for long files played without output.
class Progress {
public:
    Progress(bool on, LONGLONG duration) : m_on(on && isatty(2) && duration > 0), m_duration(duration) {}
    void At(LONGLONG t) {
        if (!m_on) return;
        int percent = static_cast<int>(t * 100 / m_duration);
        if (percent == m_shown || percent < 0 || percent > 100) return;
        m_shown = percent;
        std::fprintf(stderr, "\r[%-50s] %3d%%", std::string(static_cast<size_t>(percent / 2), '#').c_str(), percent);
    }
    ~Progress() {
        if (m_on && m_shown >= 0) std::fprintf(stderr, "\n");
    }

private:
    bool m_on;
    LONGLONG m_duration;
    int m_shown = -1;
};

// For a URL played without output on a terminal: the bytes received so far (the byte stream's position;
// a live stream has no length to show a share of), at most ten times a second.
class Received {
public:
    explicit Received(IMFByteStream* stream) : m_stream(stream && isatty(2) ? stream : nullptr) {}
    void Update() {
        if (!m_stream) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_shown < std::chrono::milliseconds(100)) return;
        m_shown = now;
        QWORD position = 0, length = 0;
        m_stream->GetCurrentPosition(&position);
        m_stream->GetLength(&length);
        if (length == ~QWORD(0))
            std::fprintf(stderr, "\rreceived %.1f MB", position / 1048576.0);
        else
            std::fprintf(stderr, "\rreceived %.1f of %.1f MB", position / 1048576.0, length / 1048576.0);
        m_any = true;
    }
    ~Received() {
        if (m_any) std::fprintf(stderr, "\n");
    }

private:
    IMFByteStream* m_stream;
    std::chrono::steady_clock::time_point m_shown{};
    bool m_any = false;
};

LONGLONG Duration(IMFMediaSource* source) {
    PlatRef<IMFPresentationDescriptor> pd;
    UINT64 d = 0;
    if (SUCCEEDED(source->CreatePresentationDescriptor(&pd))) pd->GetUINT64(MF_PD_DURATION, &d);
    return static_cast<LONGLONG>(d);
}
} // namespace

int PlayCommand(const std::vector<std::string>& args) {
    host::PlayOptions options;
    host::OpenOptions openAs;
    std::string file, mode = "lines";
    bool requestsGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool more = i + 1 < args.size();
        if (a == "--summary" || a == "--json" || a == "--null") {
            mode = a.substr(2);
        } else if (a == "--start" && more) {
            if (!host::ParseSeconds(args[++i], &options.start)) return 2;
            options.startAt = true;
        } else if (a == "--requests" && more) {
            options.requests = std::max(1, std::atoi(args[++i].c_str()));
            requestsGiven = true;
        } else if (a == "--rate" && more) {
            options.rate = std::strtof(args[++i].c_str(), nullptr);
        } else if (a == "--stream" && more) {
            options.streams.push_back(static_cast<DWORD>(std::strtoul(args[++i].c_str(), nullptr, 0)));
        } else if (a == "--seek-at" && more) {
            if (!host::ParseSeekAt(args[++i], &options.seekWhen, &options.seekTo)) {
                std::fprintf(stderr, "oggsource play: --seek-at wants SECONDS:TARGET\n");
                return 2;
            }
        } else if (host::TakeOpenOption(args, &i, &openAs)) {
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
    if (const char* wrong = host::OpenOptionsError(openAs, host::IsUrl(file))) {
        std::fprintf(stderr, "oggsource play: %s\n", wrong);
        return 2;
    }
    PlatRef<IMFMediaSource> source;
    PlatRef<IMFByteStream> stream; // a URL's, kept to show what was received and why it failed
    HRESULT hr = openAs.unseekable   ? host::OpenUnseekable(file, openAs.contentType, &source)
                 : host::IsUrl(file) ? host::OpenUrl(file, &source, &stream)
                                     : host::OpenFile(file, &source);
    const std::string cause = host::IsUrl(file) && FAILED(hr) ? host::NetworkErrorText() : std::string();
    if (!cause.empty()) {
        std::fprintf(stderr, "%s: cannot be opened: %s (%s)\n", file.c_str(), cause.c_str(), host::HResultText(hr).c_str());
        return 1;
    }
    if (hr == MF_E_INVALID_FILE_FORMAT) {
        std::fprintf(stderr, "%s: nothing to play: no stream in it is one the source can play (%s)\n", file.c_str(),
                     host::HResultText(hr).c_str());
        return 1;
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s: cannot be opened (%s)\n", file.c_str(), host::HResultText(hr).c_str());
        return 1;
    }
    if (!host::IsOggSource(source.Get())) {
        std::fprintf(stderr, "%s: opened by another media source, not the Ogg source\n", file.c_str());
        source->Shutdown();
        return 1;
    }
    struct stat st {};
    stat(file.c_str(), &st);
    if (mode == "null" && !requestsGiven) options.requests = 16; // timing: requests topped up in bursts
    options.checksums = mode == "json"; // only the JSON lines show them
    options.keepSamples = false;        // each sample is printed or counted as it comes
    Progress progress(mode == "null" && !stream && st.st_size > (64 << 20), Duration(source.Get()));
    Received received(mode == "null" ? stream.Get() : nullptr);
    std::map<DWORD, StreamTotals> totals;
    if (mode == "json") {
        options.onEvent = [](MediaEventType type, int64_t stream, HRESULT status) {
            std::printf("%s\n", host::EventLine(type, stream, status).c_str());
        };
    }
    options.onFormat = [&](const host::FormatChange& f) {
        if (mode == "lines")
            std::printf("stream %u format changed: channels %u, sample_rate %u, width %u, height %u\n", static_cast<unsigned>(f.stream),
                        f.channels, f.sampleRate, f.width, f.height);
        else if (mode == "json")
            std::printf("{\"type\": \"format\", \"stream\": %u, \"channels\": %u, \"sample_rate\": %u, \"width\": %u, \"height\": %u}\n",
                        static_cast<unsigned>(f.stream), f.channels, f.sampleRate, f.width, f.height);
    };
    auto onSample = [&](const host::Sample& s) {
        StreamTotals& t = totals[s.stream];
        ++t.samples;
        t.bytes += s.size;
        t.clean += s.clean;
        if (t.first < 0) t.first = s.time;
        t.last = s.time;
        if (mode == "lines") {
            std::printf("stream %u time %.4f duration %.4f size %u%s%s\n", static_cast<unsigned>(s.stream), s.time / 1e7,
                        s.duration / 1e7, static_cast<unsigned>(s.size), s.clean ? " clean" : "", s.discontinuity ? " discontinuity" : "");
        } else if (mode == "json") {
            std::printf("%s\n", host::SampleLine(s).c_str());
        } else if (mode == "null") {
            progress.At(s.time);
            received.Update();
        }
    };
    host::PlayResult r = host::Play(source.Get(), options, onSample);
    source->Shutdown();
    if (r.nothingToPlay) {
        std::fprintf(stderr, "%s: nothing to play: no stream is selected by default and none has a media type\n", file.c_str());
        return 1;
    }
    for (DWORD id : r.selectedForPlay)
        std::fprintf(stderr, "%s: no stream is selected by default: playing stream %u\n", file.c_str(), static_cast<unsigned>(id));
    if (mode == "summary") {
        std::printf("%-10s %8s %12s %12s %12s %8s\n", "stream", "samples", "bytes", "first (s)", "last (s)", "clean");
        for (const auto& [id, t] : totals)
            std::printf("%-10u %8zu %12llu %12.4f %12.4f %8zu\n", static_cast<unsigned>(id), t.samples, static_cast<unsigned long long>(t.bytes),
                        t.first / 1e7, t.last / 1e7, t.clean);
        std::printf("%s\n", r.endOfPresentation ? "end of presentation" : "stopped before the end");
    }
    if (FAILED(r.status) || !r.endOfPresentation) {
        const std::string why = stream ? host::NetworkErrorText(stream.Get()) : std::string();
        std::fprintf(stderr, "%s: playback failed%s%s (%s)\n", file.c_str(), why.empty() ? "" : ": ", why.c_str(),
                     host::HResultText(r.status).c_str());
        return 1;
    }
    return 0;
}
