// oggsource: the command-line host. probe shows what the source makes of a file; play runs it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "options.h"
#include "probe.h"
#include "process_exit.h"

namespace {
const char* kUsage = R"(usage: oggsource register [--module PATH] | unregister [--module PATH]
       oggsource probe [--json] [--unseekable [--content-type TYPE]] FILE|URL...
       oggsource tags [--json] FILE
       oggsource play [--summary | --json | --null] [--start SECONDS] [--rate R] [--stream ID]...
                      [--seek-at SECONDS:TARGET] [--requests N] [--unseekable [--content-type TYPE]] FILE|URL
       oggsource read [--json | --tags] [--start SECONDS] [--seek-at SECONDS:TARGET] [--unseekable [--content-type TYPE]] FILE
       oggsource decode [--start SECONDS] [--packets] [--raw DIR] FILE
       oggsource session [--start SECONDS] [--pause] [--rate R] [--no-clock] [--any-source] [--timeout SECONDS] FILE
       oggsource thumbnail [--size N] [--out FILE] FILE

probe   opens each file as a Media Foundation host does and prints its streams: codec, media type,
        serial, start and end, and the duration, on the presentation's timeline (it counts from the
        origin, the time of the earliest first packet, shown when not 0), and the tags; a chained file's
        links each with its tags (the source is started at each link to read them).
        --json prints one object per file.
tags    prints the file's tags as each kind of client reads them: the source's property store
        (MF_PROPERTY_HANDLER_SERVICE) by property name, its metadata provider (MF_METADATA_PROVIDER_SERVICE)
        by name for the presentation and each stream, and the shell property handler (the class Explorer
        uses, CLSID_OGGPropertyHandler, fed a stream over the file); on Windows also what a player built on
        mfplay reads (MFPCreateMediaPlayer, CreateMediaItemFromURL, IMFPMediaItem::GetMetadata); the Linux
        build has no mfplay and leaves that view out. --json prints one object with the views ("store",
        "provider", "shell", and on Windows "mfplay"); a view that could not be read holds its "error".
play    starts the source and pulls samples from every selected stream until the end of the
        presentation: one line per sample (stream, time, duration, size, clean point, discontinuity),
        or --summary, --json, --null (nothing; for timing). --start seeks before playing, --rate sets the
        rate, --stream chooses streams, --seek-at seeks while playing when a sample at SECONDS arrives.
        A file that selects no stream by default (subtitles alone) plays every stream that has a media
        type, and says so on stderr. The host keeps N sample requests outstanding per stream (--requests;
        2 by default, 16 with --null), topped up in a burst once half were answered, and reads events through
        callbacks that handle every event already queued behind the one they were called for (GetEvent
        without waiting) before they ask again, one callback handling what the others hand it: the
        cheapest legal pattern, which --null times.
read    (Windows) plays the file through the system's Source Reader instead of driving the source: every
        stream with a media type, in its native type, until every stream has ended; JSON Lines samples as
        play --json prints them. --start and --seek-at as for play. --tags prints instead, as one JSON
        object, what the reader gives of the tags (the source's property store through GetServiceForStream)
        and of the descriptors' attributes (GetPresentationAttribute), in probe's field names.
--unseekable (probe, play, read) opens the file as a stream that cannot seek and has no length, as a pipe or
        a plain HTTP reply is, named without its extension and announcing the MIME type --content-type TYPE
        (audio/ogg by default): the resolver (read: the Source Reader's) finds the handler by that type alone.
        The Windows build wraps the system's file byte stream; the Linux build uses the stand-in's fault byte
        stream. probe --json shows the source's characteristics (MFMEDIASOURCE_CAN_SEEK is 2) and, with
        --unseekable, what the stream says: "byte_stream" with its capabilities (MFBYTESTREAM_IS_SEEKABLE is 4),
        its length (null: unknown) and its answers to a seek one byte ahead and to where it is.

session (Windows) plays the file through the system's Media Session: every stream with a media type connected
        to a sample grabber sink in its own type (no decoder), which takes each sample when the presentation
        clock reaches it, as a renderer does (--no-clock: as it comes); prints what each sink got as play --json
        prints samples (and the session's events) until the session sends MESessionEnded; fails when it has not
        within --timeout (120 s by default). --pause pauses once the first sample came and resumes, --rate sets
        the session's rate before the start. --any-source plays a file another media source opens (the
        system's own), to tell what the session does from what the Ogg source does.
decode  (Linux) decodes every Vorbis, Theora, Opus, FLAC and Speex stream from what the source hands out
        alone (the media type and the samples) and prints per stream, as JSON, the MD5 of the decoded output and
        its count: Vorbis and Opus 32-bit float samples (Opus at 48 kHz, its pre-skip dropped from the start),
        FLAC 32-bit integer samples, Speex 16-bit samples, all little-endian with the channels interleaved, counted
        per channel; the audio trimmed at the stream's end time (Speex not trimmed); Theora frames cropped to the
        picture, planes Y, Cb, Cr. "first" is where the output begins on the timeline (samples, or frames).
        --start decodes from a position (after the first key frame), --packets adds each packet's or frame's
        share, --raw DIR writes each stream's output to DIR/ID.raw. (--fault KIND hands the decoders something
        wrong on purpose, for the tests: user-data, drop, double, no-headers, pre-skip, end-trim.)

thumbnail (Windows) what Explorer's thumbnail cache gets: the thumbnail provider (CLSID_OGGThumbnailProvider)
        made by class, fed a stream over the file and asked for a bitmap of --size pixels (256 by default); prints
        one JSON object (width, height, bits_per_pixel, alpha; or the "error") and writes the pixels
        to --out FILE as top-down rows of 32-bit BGRA. A file without a cover fails (WTS_E_FAILEDEXTRACTION).

register     registers the module (by default the one built with this host) in the registry store, and
             names the extensions whose shell property handler or thumbnail provider it left to another
             product or could not register (HKEY_LOCAL_MACHINE not writable)
unregister   removes it again; the store is $OGGSOURCE_REGISTRY, else ~/.config/oggsource/registry.reg

probe and play open files as a Media Foundation host does: through the source resolver, which tries the
module registered for the file's extension (".OGG", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx")
and then, as the file's content need not match its name, every registered handler in turn. An http:// or
https:// URL is read from the network: the handler is found by the URL's extension or by the MIME type the
server sends; a failure says the HTTP status or the cause; play --null on a terminal shows the bytes
received.

Exit codes: 0 success, 1 the file could not be opened or played, 2 usage error.
)";

std::string Hms(LONGLONG t) {
    char buf[64];
    if (t < 0) return "-";
    long long ms = t / 10000;
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return buf;
}

void PrintTags(const char* lead, const nlohmann::json& j) {
    if (!j.contains("tags") || !j["tags"].is_object() || j["tags"].empty()) return;
    std::printf("%s", lead);
    for (const auto& [key, value] : j["tags"].items())
        std::printf(" %s %s;", key.c_str(), value.dump().c_str());
    std::printf("\n");
}

void PrintHuman(const std::string& file, const nlohmann::json& j) {
    if (j["duration"].is_number())
        std::printf("%s: duration %s (%lld)", file.c_str(), Hms(j["duration"].get<int64_t>()).c_str(),
                    static_cast<long long>(j["duration"].get<int64_t>()));
    else
        std::printf("%s: duration unknown", file.c_str());
    if (j["characteristics"].is_number() && !(j["characteristics"].get<uint32_t>() & MFMEDIASOURCE_CAN_SEEK))
        std::printf(", cannot seek");
    if (j["origin"].is_number() && j["origin"].get<int64_t>() != 0)
        std::printf(", origin %s in the file's own time (times count from it)", Hms(j["origin"].get<int64_t>()).c_str());
    std::printf("\n");
    if (j.contains("links")) {
        for (size_t k = 0; k < j["links"].size(); ++k) {
            const auto& l = j["links"][k];
            std::printf("  link %zu at byte %lld: start %s, duration %s;", k, static_cast<long long>(l["offset"].get<int64_t>()),
                        Hms(l["start"].get<int64_t>()).c_str(), Hms(l["duration"].get<int64_t>()).c_str());
            for (const auto& s : l["streams"])
                std::printf(" %s %u%s", s["codec"].get<std::string>().c_str(), static_cast<unsigned>(s["serial"].get<int64_t>()),
                            s["played"].get<bool>() ? "" : " (not played)");
            std::printf("\n");
            PrintTags("    tags:", l);
        }
    }
    PrintTags("  tags:", j);
    for (const auto& s : j["streams"]) {
        std::string kind = s["codec"].get<std::string>();
        if (!s["ogm_type"].is_null()) kind += " " + s["ogm_type"].get<std::string>();
        std::printf("  stream %u%s: %s, %s %s, format %s\n", s["id"].get<unsigned>(), s["selected"].get<bool>() ? " (selected)" : "",
                    kind.c_str(), s.value("major", nlohmann::json()).is_null() ? "no media type" : s["major"].get<std::string>().c_str(),
                    s.value("subtype", std::string()).c_str(), s.value("format_type", std::string()).c_str());
        std::printf("    start %s, end %s", s["start"].is_null() ? "-" : Hms(s["start"].get<int64_t>()).c_str(),
                    s["end"].is_null() ? "-" : Hms(s["end"].get<int64_t>()).c_str());
        for (const char* k : {"channels", "sample_rate", "bitrate_nominal", "width", "height", "avg_time_per_frame",
                              "fourcc", "format_tag", "block_align", "avg_bytes_per_sec"}) {
            if (!s.contains(k)) continue;
            std::printf(", %s %s", k, s[k].is_string() ? s[k].get<std::string>().c_str() : s[k].dump().c_str());
        }
        for (const char* k : {"language", "name"})
            if (s.contains(k) && s[k].is_string()) std::printf(", %s %s", k, s[k].dump().c_str());
        std::printf("\n");
    }
}

int Probe(const std::vector<std::string>& args) {
    bool json = false;
    host::OpenOptions openAs;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json" || host::TakeOpenOption(args, &i, &openAs)) {
            json = json || a == "--json";
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "oggsource probe: unknown option %s\n", a.c_str());
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    for (const auto& f : files)
        if (const char* wrong = host::OpenOptionsError(openAs, host::IsUrl(f))) {
            std::fprintf(stderr, "oggsource probe: %s\n", wrong);
            return 2;
        }
    int rc = 0;
    for (const auto& f : files) {
        PlatRef<IMFMediaSource> source;
        PlatRef<IMFByteStream> stream; // --unseekable's, described too
        HRESULT hr = openAs.unseekable ? host::OpenUnseekable(f, openAs.contentType, &source, &stream)
                                       : host::OpenFile(f, &source);
        nlohmann::json j;
        if (SUCCEEDED(hr)) hr = host::Describe(source.Get(), &j);
        if (SUCCEEDED(hr)) host::DescribeLinkTags(source.Get(), &j);
        if (SUCCEEDED(hr) && stream) j["byte_stream"] = host::DescribeByteStream(stream.Get());
        if (source) source->Shutdown();
        const std::string cause = host::IsUrl(f) && FAILED(hr) ? host::NetworkErrorText() : std::string();
        if (!cause.empty()) {
            std::fprintf(stderr, "%s: cannot be opened: %s (%s)\n", f.c_str(), cause.c_str(), host::HResultText(hr).c_str());
            rc = 1;
            continue;
        }
        if (FAILED(hr)) {
            const char* why = hr == MF_E_CANNOT_PARSE_BYTESTREAM ? "not an Ogg stream"
                              : hr == MF_E_INVALID_FILE_FORMAT      ? "an Ogg file without a stream the source can play"
                              : hr == MF_E_UNSUPPORTED_BYTESTREAM_TYPE ? "no byte-stream handler is registered"
                              : hr == REGDB_E_CLASSNOTREG ? "the registered handler's class is not registered"
                              : hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                                  ? "no such file"
                              : hr == E_ACCESSDENIED ? "cannot be read"
                                                     : "cannot be opened";
            std::fprintf(stderr, "%s: %s (%s)\n", f.c_str(), why, host::HResultText(hr).c_str());
            rc = 1;
            continue;
        }
        j["file"] = f;
        if (json) std::printf("%s\n", j.dump().c_str());
        else PrintHuman(f, j);
    }
    return rc;
}

} // namespace

int PlayCommand(const std::vector<std::string>& args);
int ReadCommand(const std::vector<std::string>& args);
#ifdef OGGSOURCE_DECODE
int DecodeCommand(const std::vector<std::string>& args);
#endif
int TagsCommand(const std::vector<std::string>& args);
void ReportPropertyHandlers();
#ifdef OGGSOURCE_SESSION
int SessionCommand(const std::vector<std::string>& args);
#endif
#ifdef OGGSOURCE_THUMBNAIL
int ThumbnailCommand(const std::vector<std::string>& args);
#endif

namespace {
int Register(const std::vector<std::string>& args, bool unregister) {
    std::string module = OGGSOURCE_MODULE_PATH;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--module" && i + 1 < args.size()) module = args[++i];
        else {
            std::fprintf(stderr, "oggsource: unexpected argument %s\n", args[i].c_str());
            return 2;
        }
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    HRESULT hr = host::CallModule(module, entry);
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s: %s failed (%s)\n", module.c_str(), entry, host::HResultText(hr).c_str());
        return 1;
    }
    std::printf("%s %s in %s\n", unregister ? "unregistered" : "registered", module.c_str(), PlatRegistryPath());
    if (!unregister) ReportPropertyHandlers();
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string verb = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") { // `oggsource play --help` as well as `oggsource --help`
            std::fputs(kUsage, stdout);
            return 0;
        }
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    int rc;
    if (verb == "probe") rc = Probe(args);
    else if (verb == "tags") rc = TagsCommand(args);
    else if (verb == "play") rc = PlayCommand(args);
    else if (verb == "read") rc = ReadCommand(args);
#ifdef OGGSOURCE_SESSION
    else if (verb == "session") rc = SessionCommand(args);
#else
    else if (verb == "session") {
        std::fprintf(stderr, "oggsource session: the Media Session is a Windows component; this build has none\n");
        rc = 1;
    }
#endif
#ifdef OGGSOURCE_THUMBNAIL
    else if (verb == "thumbnail") rc = ThumbnailCommand(args);
#else
    else if (verb == "thumbnail") {
        std::fprintf(stderr, "oggsource thumbnail: thumbnails are drawn with WIC, a Windows component; this build "
                             "has none\n");
        rc = 1;
    }
#endif
#ifdef OGGSOURCE_DECODE
    else if (verb == "decode") rc = DecodeCommand(args);
#else
    else if (verb == "decode") {
        std::fprintf(stderr, "oggsource decode: this build has no decoders (the Linux build has them)\n");
        rc = 1;
    }
#endif
    else if (verb == "register") rc = Register(args, false);
    else if (verb == "unregister") rc = Register(args, true);
    else {
        std::fprintf(stderr, "oggsource: unknown command %s\n%s", verb.c_str(), kUsage);
        rc = 2;
    }
    MFShutdown();
    SettleBeforeExit();
    return rc;
}
