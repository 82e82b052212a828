// oggsource decode: plays a file as any host does and decodes every stream of a codec it knows (Vorbis,
// Theora, Opus, FLAC, Speex) from what the source hands out alone: the stream's media type and its samples,
// with Debian's libvorbis, libtheora, libopus, libFLAC and libspeex. Prints per stream the MD5 of the decoded
// output and how many samples or frames it holds, as JSON Lines (and with --packets, each packet's or frame's
// share).
#include <cstdio>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "decoder.h"
#include "oggsource.h"
#include "options.h"

namespace {
const char kUsage[] =
    "usage: oggsource decode [--start SECONDS] [--packets] [--raw DIR] [--fault KIND] FILE\n";
constexpr size_t kFaultAt = 10; // the data sample a Drop or Double fault acts on

struct Stream {
    std::unique_ptr<decode::Decoder> decoder;
    std::mutex lock; // a stream's samples come one at a time, but not always on the same thread
    std::string error;
    size_t data = 0; // data samples seen
};

bool ParseFault(const std::string& name, decode::Fault* fault) {
    const std::map<std::string, decode::Fault> names = {
        {"user-data", decode::Fault::UserData}, {"drop", decode::Fault::Drop},
        {"double", decode::Fault::Double},      {"no-headers", decode::Fault::NoHeaders},
        {"pre-skip", decode::Fault::PreSkip},   {"end-trim", decode::Fault::EndTrim}};
    auto it = names.find(name);
    if (it == names.end()) return false;
    *fault = it->second;
    return true;
}

LONGLONG TimeAttribute(IMFStreamDescriptor* sd, REFGUID key) {
    UINT64 v = 0;
    return SUCCEEDED(sd->GetUINT64(key, &v)) ? static_cast<LONGLONG>(v) : -1;
}

// A decoder for every stream whose subtype this verb decodes, set up from its type; false when one cannot be.
bool MakeDecoders(IMFMediaSource* source, const decode::StreamSetup& common, decode::Fault fault,
                  std::map<DWORD, std::unique_ptr<Stream>>* streams) {
    PlatRef<IMFPresentationDescriptor> pd;
    DWORD count = 0;
    if (FAILED(source->CreatePresentationDescriptor(&pd)) || FAILED(pd->GetStreamDescriptorCount(&count)))
        return false;
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        PlatRef<IMFMediaTypeHandler> handler;
        PlatRef<IMFMediaType> type;
        GUID subtype = GUID_NULL;
        if (FAILED(pd->GetStreamDescriptorByIndex(i, &selected, &sd)) ||
            FAILED(sd->GetMediaTypeHandler(&handler)) || FAILED(handler->GetCurrentMediaType(&type)) ||
            FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)))
            continue;
        auto stream = std::make_unique<Stream>();
        stream->decoder = decode::MakeDecoder(subtype);
        if (!stream->decoder) continue;
        decode::StreamSetup setup = common;
        sd->GetStreamIdentifier(&setup.id);
        setup.type = type.Get();
        setup.startTime = TimeAttribute(sd.Get(), MF_SD_OGG_START_TIME);
        setup.endTime = TimeAttribute(sd.Get(), MF_SD_OGG_END_TIME);
        if (!common.rawPath.empty()) setup.rawPath = common.rawPath + "/" + std::to_string(setup.id) + ".raw";
        if (!stream->decoder->Init(setup, fault, &stream->error)) {
            std::fprintf(stderr, "stream %u (%s): %s\n", static_cast<unsigned>(setup.id),
                         stream->decoder->Codec(), stream->error.c_str());
            return false;
        }
        (*streams)[setup.id] = std::move(stream);
    }
    return true;
}

// One sample to its stream's decoder, through the fault asked for.
void Feed(Stream* stream, const host::Sample& sample, decode::Fault fault) {
    std::lock_guard<std::mutex> hold(stream->lock);
    if (!stream->error.empty()) return;
    const bool header = stream->decoder->Codec() == std::string("vorbis") && !sample.payload.empty() &&
                        (sample.payload[0] & 1);
    if (header && fault == decode::Fault::NoHeaders) return;
    const size_t n = header ? 0 : ++stream->data;
    if (n == kFaultAt && fault == decode::Fault::Drop) return;
    bool ok = stream->decoder->Decode(sample, &stream->error);
    if (ok && n == kFaultAt && fault == decode::Fault::Double)
        ok = stream->decoder->Decode(sample, &stream->error);
    (void)ok;
}

int Report(std::map<DWORD, std::unique_ptr<Stream>>& streams, bool packets) {
    int rc = 0;
    for (auto& [id, stream] : streams) {
        decode::Decoder& d = *stream->decoder;
        if (stream->error.empty()) d.Finish(&stream->error);
        if (!stream->error.empty()) {
            std::fprintf(stderr, "stream %u (%s): %s\n", static_cast<unsigned>(id), d.Codec(),
                         stream->error.c_str());
            rc = 1;
            continue;
        }
        if (packets)
            for (const decode::Unit& u : d.Units())
                std::printf("%s\n", nlohmann::json{{"type", "unit"},
                                                   {"stream", id},
                                                   {"time", u.time},
                                                   {"position", u.position},
                                                   {"count", u.count},
                                                   {"md5", u.md5}}
                                        .dump()
                                        .c_str());
        nlohmann::json line{{"type", "stream"},     {"stream", id},         {"codec", d.Codec()},
                            {"format", d.Format()}, {"unit", d.UnitName()}, {"count", d.Count()},
                            {"md5", d.Digest()}};
        line["first"] = d.Any() ? nlohmann::json(d.First()) : nlohmann::json(nullptr);
        std::printf("%s\n", line.dump().c_str());
    }
    return rc;
}
} // namespace

int DecodeCommand(const std::vector<std::string>& args) {
    std::string file;
    decode::StreamSetup common;
    decode::Fault fault = decode::Fault::None;
    host::PlayOptions options;
    bool packets = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == "--start" && more && host::ParseSeconds(args[i + 1], &options.start)) {
            options.startAt = true;
            common.fromStart = options.start == 0; // a start at 0 is the stream's start
            ++i;
        } else if (a == "--packets") {
            packets = true;
        } else if (a == "--raw" && more) {
            common.rawPath = args[++i];
        } else if (a == "--fault" && more && ParseFault(args[i + 1], &fault)) {
            ++i;
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            std::fprintf(stderr, "oggsource decode: unexpected argument %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (file.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    PlatRef<IMFMediaSource> source;
    HRESULT hr = host::OpenFile(file, &source);
    if (FAILED(hr) || !host::IsOggSource(source.Get())) {
        std::fprintf(stderr, "%s: cannot be opened by the Ogg source (%s)\n", file.c_str(),
                     host::HResultText(hr).c_str());
        if (source) source->Shutdown();
        return 1;
    }
    std::map<DWORD, std::unique_ptr<Stream>> streams;
    const bool made = MakeDecoders(source.Get(), common, fault, &streams);
    if (!made || streams.empty()) {
        if (made) std::fprintf(stderr, "%s: no stream of a codec this verb decodes\n", file.c_str());
        source->Shutdown();
        return 1;
    }
    for (const auto& [id, stream] : streams)
        options.streams.push_back(id);
    options.checksums = false;
    options.keepSamples = false;
    options.payloads = true;
    host::PlayResult r = host::Play(source.Get(), options, [&](const host::Sample& s) {
        auto it = streams.find(s.stream);
        if (it != streams.end()) Feed(it->second.get(), s, fault);
    });
    source->Shutdown();
    if (FAILED(r.status) || !r.endOfPresentation) {
        std::fprintf(stderr, "%s: playback failed (%s)\n", file.c_str(), host::HResultText(r.status).c_str());
        return 1;
    }
    return Report(streams, packets);
}
