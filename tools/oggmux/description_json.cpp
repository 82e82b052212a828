// The JSON form of a description, and the built-in demo sample.
#include <nlohmann/json.hpp>

#include "mux_description.h"

namespace oggmux {

namespace {
const struct {
    Kind kind;
    const char* name;
} kKinds[] = {{Kind::Vorbis, "vorbis"},     {Kind::Theora, "theora"},   {Kind::OgmVideo, "ogm_video"},
              {Kind::OgmAudio, "ogm_audio"}, {Kind::OgmText, "ogm_text"}, {Kind::DirectX, "directx"},
              {Kind::DShow, "dshow"},        {Kind::Unknown, "unknown"}, {Kind::Opus, "opus"},
              {Kind::Flac, "flac"},          {Kind::Speex, "speex"},     {Kind::Skeleton, "skeleton"}};

template <class T> void Get(const nlohmann::json& j, const char* key, T* out) {
    if (j.contains(key)) *out = j.at(key).get<T>();
}

std::vector<uint8_t> Hex(const std::string& s) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i + 1 < s.size(); i += 2) v.push_back(static_cast<uint8_t>(std::stoul(s.substr(i, 2), nullptr, 16)));
    return v;
}

StreamDescription Stream(const nlohmann::json& j) {
    StreamDescription d;
    std::string kind = j.at("kind").get<std::string>();
    if (!KindFromName(kind, &d.kind)) throw std::runtime_error("unknown kind \"" + kind + "\"");
    if (d.kind == Kind::OgmText) {
        d.timeUnit = 10000; // milliseconds
        d.flushEvery = 1;   // each line on a page of its own, so that every line carries its start
        d.packets = 5;
    }
    if (d.kind == Kind::OgmAudio || (d.kind != Kind::OgmVideo && j.value("media", "video") == "audio")) {
        d.timeUnit = 10000000;
        d.samplesPerUnit = 44100;
        d.packetDuration = 1152;
        d.defaultLength = 1152;
        d.packetSize = 400;
        d.bitsPerSample = 16;
    }
    Get(j, "serial", &d.serial);
    Get(j, "comments", &d.comments);
    Get(j, "seconds", &d.seconds);
    Get(j, "repeat_to_seconds", &d.repeatToSeconds);
    Get(j, "noise", &d.noise);
    Get(j, "start", &d.start);
    Get(j, "key_size", &d.keySize);
    Get(j, "rate", &d.rate);
    Get(j, "channels", &d.channels);
    Get(j, "quality", &d.quality);
    Get(j, "width", &d.width);
    Get(j, "height", &d.height);
    Get(j, "frame_width", &d.frameWidth);
    Get(j, "frame_height", &d.frameHeight);
    Get(j, "pic_x", &d.picX);
    Get(j, "pic_y", &d.picY);
    Get(j, "fps_num", &d.fpsNum);
    Get(j, "fps_den", &d.fpsDen);
    Get(j, "keyint", &d.keyint);
    Get(j, "aspect_num", &d.aspectNum);
    Get(j, "aspect_den", &d.aspectDen);
    Get(j, "media", &d.media);
    Get(j, "fourcc", &d.fourcc);
    Get(j, "time_unit", &d.timeUnit);
    Get(j, "samples_per_unit", &d.samplesPerUnit);
    Get(j, "default_length", &d.defaultLength);
    Get(j, "buffer_size", &d.bufferSize);
    Get(j, "bits_per_sample", &d.bitsPerSample);
    Get(j, "format_tag", &d.formatTag);
    Get(j, "block_align", &d.blockAlign);
    Get(j, "avg_bytes_per_sec", &d.avgBytesPerSec);
    if (j.contains("extra")) d.extra = Hex(j.at("extra").get<std::string>());
    Get(j, "packets", &d.packets);
    Get(j, "packet_size", &d.packetSize);
    Get(j, "length_bytes", &d.lengthBytes);
    Get(j, "packet_duration", &d.packetDuration);
    Get(j, "key_every", &d.keyEvery);
    Get(j, "preskip", &d.preskip);
    Get(j, "trim", &d.trim);
    Get(j, "bits", &d.bits);
    Get(j, "frame_size", &d.frameSize);
    Get(j, "frames_per_packet", &d.framesPerPacket);
    Get(j, "extra_headers", &d.extraHeaders);
    Get(j, "flush_every", &d.flushEvery);
    Get(j, "page_fill", &d.pageFill);
    Get(j, "empty_packet_every", &d.emptyPacketEvery);
    Get(j, "big_packet_every", &d.bigPacketEvery);
    Get(j, "big_packet_size", &d.bigPacketSize);
    if (j.contains("lines")) {
        for (const auto& l : j.at("lines"))
            d.lines.push_back(TextLine{l.at("start").get<int64_t>(), l.value("duration", int64_t{1}), l.value("text", "")});
    }
    if (d.packets < 0 || d.packetSize < 0 || d.bigPacketSize < 0 || d.packetSize > (1 << 26) || d.bigPacketSize > (1 << 26))
        throw std::runtime_error("packet counts and sizes must be between 0 and 64 MB");
    return d;
}
} // namespace

const char* KindName(Kind kind) {
    for (const auto& k : kKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

bool KindFromName(const std::string& name, Kind* kind) {
    for (const auto& k : kKinds) {
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

namespace {
Description Parse(const nlohmann::json& j) {
    Description d;
    Get(j, "seed", &d.seed);
    if (j.contains("links")) {
        for (const auto& l : j.at("links")) {
            d.links.push_back(Parse(l));
            if (!d.links.back().links.empty()) throw std::runtime_error("a link of a chain cannot be a chain");
        }
        if (d.links.empty()) throw std::runtime_error("no links");
    } else {
        for (const auto& s : j.at("streams")) {
            StreamDescription sd = Stream(s);
            int count = s.value("count", 1);
            uint32_t step = s.value("serial_step", 1u);
            for (int i = 0; i < count; ++i, sd.serial += step) d.streams.push_back(sd);
        }
    }
    if (j.contains("damage")) {
        const auto& m = j.at("damage");
        if (m.contains("garbage")) {
            d.damage.garbageEvery = m.at("garbage").value("every", 1);
            d.damage.garbageBytes = m.at("garbage").value("bytes", 16);
        }
        Get(m, "truncate_at", &d.damage.truncateAt);
        Get(m, "drop_pages", &d.damage.dropPages);
        Get(m, "corrupt_crc_pages", &d.damage.corruptCrcPages);
        Get(m, "not_ogg", &d.damage.notOgg);
        Get(m, "junk_prefix", &d.damage.junkPrefix);
        if (d.damage.junkPrefix < 0 || d.damage.junkPrefix > (1 << 24) || (d.damage.junkPrefix > 0 && d.damage.junkPrefix < 10))
            throw std::runtime_error("junk_prefix: 0, or 10 bytes (an ID3v2 header) to 16 MB");
    }
    if (d.streams.empty() && d.links.empty() && d.damage.notOgg < 0) throw std::runtime_error("no streams");
    return d;
}
} // namespace

bool ParseDescription(const std::string& text, Description* out, std::string* error) {
    try {
        *out = Parse(nlohmann::json::parse(text));
        return true;
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
}

Description DemoDescription() {
    Description d;
    std::string error;
    ParseDescription(R"({"seed": 7, "streams": [
        {"kind": "theora", "serial": 1001, "width": 320, "height": 240, "fps_num": 25, "fps_den": 1,
         "keyint": 25, "seconds": 10, "comments": ["TITLE=oggsource demo"]},
        {"kind": "vorbis", "serial": 1002, "rate": 44100, "channels": 2, "seconds": 10, "quality": 0.1,
         "comments": ["TITLE=oggsource demo", "ARTIST=oggmux"]},
        {"kind": "ogm_text", "serial": 1003, "packets": 5, "comments": ["LANGUAGE=English"]}]})",
                     &d, &error);
    return d;
}

} // namespace oggmux
