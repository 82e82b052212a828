// What a seek must deliver, worked out from a full play of the file and its pages (not from the source's own
// search): per stream the exact first sample and then the rest of the file, contiguous.
//   compressed video: the last key frame that starts at or before the target;
//   audio: the first packet that ends after the target less the codec's pre-roll (Opus 80 ms, Speex 200 ms),
//   and for Vorbis the packet before it too (its window overlaps it);
//   everything else: the first packet begun on the last page whose time is at or before the target (a page's
//   time: that of its granule, the end of a Theora frame, the start of an OGM packet).
// A search that returned byte 0, or the page after the target, or the page before the right one, fails it.
#pragma once
#include <algorithm>
#include <cstdio>
#include <string>

#include "common/fixtures.h"
#include "common/ogg_pages.h"

struct StreamTruth {
    DWORD id = 0;
    bool keyed = false;        // compressed video: resumes at a key frame
    bool audio = false;        // resumes with the packet that holds the target (less the pre-roll)
    bool packetBefore = false; // Vorbis: and the packet before that
    bool pageTimeIsEnd = false; // Theora: a page's time is the end of its last frame
    bool endsWithItsPages = false; // a target at or after its last page's time finds nothing left (not OGM:
                                   // an OGM page's time is the start of its last packet)
    size_t headerSamples = 0;  // samples the source sends ahead of every run (Vorbis headers, the text start)
    LONGLONG preroll = 0;      // a seek starts this much before the target (Opus)
    StreamPages pages;
};

// The header packets of a FLAC stream: the first, and the count its first packet gives.
inline int FlacHeaderPackets(const std::string& path, uint32_t serial) {
    std::ifstream in(path, std::ios::binary);
    std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const PageRec& p : ReadPages(path)) {
        if (p.serial != serial) continue;
        const size_t body = p.pos + 27 + static_cast<unsigned char>(d[p.pos + 26]);
        if (body + 9 > d.size()) return 1;
        return 1 + (static_cast<unsigned char>(d[body + 7]) << 8 | static_cast<unsigned char>(d[body + 8]));
    }
    return 1;
}

// The truth of one stream from a full play.
inline StreamTruth Truth(const std::string& path, const nlohmann::json& stream, const std::vector<host::Sample>& full) {
    StreamTruth t;
    t.id = stream["id"].get<DWORD>();
    const std::string codec = stream["codec"].get<std::string>();
    const std::string ogm = stream["ogm_type"].is_null() ? "" : stream["ogm_type"].get<std::string>();
    const bool video = stream["major"] == "video";
    t.keyed = video && codec != "unknown"; // every video kind here is compressed
    t.audio = stream["major"] == "audio";
    t.packetBefore = codec == "vorbis";
    t.pageTimeIsEnd = codec == "theora" || codec == "opus" || codec == "flac" || codec == "speex";
    t.endsWithItsPages = codec != "ogm";
    t.headerSamples = codec == "vorbis" ? 3 : ogm == "text" ? 1 : 0;
    t.preroll = codec == "opus" ? 800000 : codec == "speex" ? 2000000 : 0;
    // Speex: the header and the comment (files here have no extra headers).
    const int headerPackets = codec == "vorbis" || codec == "theora" ? 3 : codec == "flac" ? FlacHeaderPackets(path, t.id) : 2;
    t.pages = MatchPages(ReadPages(path), t.id, headerPackets, Of(full, t.id), t.headerSamples);
    return t;
}

inline LONGLONG PageTime(const StreamTruth& t, size_t page) {
    const host::Sample& last = t.pages.samples[t.pages.last[page]];
    return t.pageTimeIsEnd ? last.time + last.duration : last.time;
}

// The index (among the stream's data samples) of the first sample a seek to `target` must deliver; the
// number of samples when none is left.
inline size_t ExpectedFirst(const StreamTruth& t, LONGLONG target) {
    const std::vector<host::Sample>& s = t.pages.samples;
    target -= t.preroll;
    if (t.endsWithItsPages && !t.pages.pages.empty() && PageTime(t, t.pages.pages.size() - 1) <= target) return s.size();
    if (t.audio) { // a sample's end: its time plus its duration (a Vorbis sample's time is its end, duration 0)
        size_t i = 0;
        while (i < s.size() && s[i].time + s[i].duration <= target) ++i;
        return t.packetBefore && i > 0 && i < s.size() ? i - 1 : i;
    }
    if (t.keyed) {
        size_t key = 0;
        for (size_t i = 0; i < s.size(); ++i)
            if (s[i].clean && s[i].time <= target) key = i;
        return key;
    }
    size_t page = t.pages.pages.size();
    for (size_t p = 0; p < t.pages.pages.size(); ++p)
        if (PageTime(t, p) <= target) page = p;
    if (page == t.pages.pages.size()) return 0; // no page before the target: from the start
    return t.pages.first[page] + (t.pages.pages[page].continued ? 1 : 0);
}

// Checks one seeked play of one stream against the truth; returns what was wrong ("" when right).
inline std::string CheckSeek(const StreamTruth& t, LONGLONG target, const std::vector<host::Sample>& seeked) {
    std::vector<host::Sample> run(seeked.begin() + static_cast<long>(std::min(t.headerSamples, seeked.size())), seeked.end());
    const std::vector<host::Sample>& all = t.pages.samples;
    const size_t want = ExpectedFirst(t, target);
    char buf[256];
    if (want >= all.size()) {
        if (run.empty()) return "";
        std::snprintf(buf, sizeof buf, "stream %u target %lld: nothing is left, yet %zu samples came (first at %lld)", t.id,
                      static_cast<long long>(target), run.size(), static_cast<long long>(run[0].time));
        return buf;
    }
    if (run.empty() || run[0].crc != all[want].crc || run[0].time != all[want].time) {
        std::snprintf(buf, sizeof buf, "stream %u target %lld: first sample at %lld, expected at %lld", t.id,
                      static_cast<long long>(target), run.empty() ? -1LL : static_cast<long long>(run[0].time),
                      static_cast<long long>(all[want].time));
        return buf;
    }
    if (run[0].time > target) return "stream " + std::to_string(t.id) + ": the first sample is after the target";
    if (run.size() != all.size() - want) {
        std::snprintf(buf, sizeof buf, "stream %u target %lld: %zu samples after the seek, %zu expected", t.id,
                      static_cast<long long>(target), run.size(), all.size() - want);
        return buf;
    }
    for (size_t i = 0; i < run.size(); ++i)
        if (run[i].crc != all[want + i].crc || run[i].time != all[want + i].time)
            return "stream " + std::to_string(t.id) + ": sample " + std::to_string(i) + " after the seek differs";
    return "";
}

// The file offset from which a stream's run after a seek to `target` must read: the page on which its expected
// first sample begins (an earlier page of the stream when that sample began before the page that completes it).
inline uint64_t ResumeOffset(const StreamTruth& t, LONGLONG target) {
    const size_t want = ExpectedFirst(t, target);
    if (want >= t.pages.samples.size()) return ~uint64_t(0); // nothing is left to read for it
    for (size_t p = 0; p < t.pages.pages.size(); ++p) {
        if (t.pages.last[p] < want) continue;
        if (want == t.pages.first[p] && t.pages.pages[p].continued) return p > 0 ? t.pages.pages[p - 1].pos : 0;
        return t.pages.pages[p].pos;
    }
    return 0;
}

// The most a play after a seek may read: the file from the earliest page a stream must resume at, and what the
// search reads. A search that fell back to byte 0, or a stream that read the file again for itself, reads more.
inline uint64_t SeekReadBound(const std::string& path, const std::vector<StreamTruth>& truth, LONGLONG target) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const uint64_t size = static_cast<uint64_t>(in.tellg());
    uint64_t from = size;
    for (const StreamTruth& t : truth) from = std::min(from, ResumeOffset(t, target));
    return size - std::min(from, size) + (256u << 10) + (64u << 10) * truth.size();
}

struct Counted {
    PlatRef<IMFByteStream> stream;
    PlatRef<IFaultByteStreamControl> control;
    explicit Counted(const std::string& path) {
        PlatRef<IMFByteStream> file;
        MFCreateFileByteStreamA(path.c_str(), &file);
        MFCreateFaultByteStream(file.Get(), nullptr, &stream);
        stream->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control));
    }
    uint64_t Bytes() {
        uint64_t reads = 0, bytes = 0;
        control->GetCounters(&reads, &bytes);
        return bytes;
    }
};

// The bytes a play reads after the open, from the start or from a target.
inline uint64_t BytesOfAPlay(const std::string& path, const std::vector<DWORD>& streams, LONGLONG target,
                             host::PlayResult* r) {
    Counted c(path);
    OpenedSource s(c.stream.Get());
    EXPECT_EQ(s.hr, S_OK);
    if (FAILED(s.hr)) return 0;
    const uint64_t opened = c.Bytes();
    host::PlayOptions o;
    o.streams = streams;
    o.startAt = target > 0;
    o.start = target;
    *r = host::Play(s.source.Get(), o);
    EXPECT_TRUE(r->endOfPresentation);
    return c.Bytes() - opened;
}

