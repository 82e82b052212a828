// The pages of an Ogg file as the tests see them, read with a plain parser of their own: where each page is,
// its stream, granule and the packets completed on it. Used to know, for a seek target, which page a correct
// search must choose.
#pragma once
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "host.h"

struct PageRec {
    uint64_t pos = 0;
    uint32_t serial = 0;
    uint32_t seqno = 0;
    int64_t granule = -1;
    bool continued = false;
    int completed = 0;        // packets completed on the page, empty ones included
    int completedEmpty = 0;   // of those, packets of no bytes
};

inline std::vector<PageRec> ReadPages(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<PageRec> pages;
    size_t pos = 0;
    while (pos + 27 <= d.size()) {
        if (d.compare(pos, 4, "OggS") != 0) {
            ++pos; // damage between pages: look for the next one
            continue;
        }
        const auto* h = reinterpret_cast<const unsigned char*>(d.data() + pos);
        const int segments = h[26];
        if (pos + 27 + segments > d.size()) break;
        PageRec p;
        p.pos = pos;
        p.continued = h[5] & 1;
        p.granule = 0;
        for (int i = 7; i >= 0; --i) p.granule = p.granule << 8 | h[6 + i];
        p.serial = h[14] | h[15] << 8 | h[16] << 16 | static_cast<uint32_t>(h[17]) << 24;
        p.seqno = h[18] | h[19] << 8 | h[20] << 16 | static_cast<uint32_t>(h[21]) << 24;
        size_t body = 0, run = 0;
        for (int i = 0; i < segments; ++i) {
            body += h[27 + i];
            run += h[27 + i];
            if (h[27 + i] < 255) {
                ++p.completed;
                p.completedEmpty += run == 0;
                run = 0;
            }
        }
        pages.push_back(p);
        pos += 27 + segments + body;
    }
    return pages;
}

// One stream's data pages matched with the samples of a full play from the start: for each page with a
// completed data packet, the index of its first and last delivered sample (empty packets are not delivered).
struct StreamPages {
    std::vector<PageRec> pages;   // the stream's pages that complete a data packet
    std::vector<size_t> first, last;
    std::vector<bool> afterHole;  // the page follows a gap in the stream's page sequence
    std::vector<host::Sample> samples; // the data samples, headers left out
};

// headerPackets: the codec's header packets; headerSamples: the samples the source sends ahead of the data.
inline StreamPages MatchPages(const std::vector<PageRec>& all, uint32_t serial, int headerPackets,
                              const std::vector<host::Sample>& played, size_t headerSamples) {
    StreamPages sp;
    sp.samples.assign(played.begin() + static_cast<long>(std::min(headerSamples, played.size())), played.end());
    int skip = headerPackets;
    size_t next = 0;
    int64_t lastSeq = -1;
    bool hole = false;
    for (const PageRec& p : all) {
        if (p.serial != serial) continue;
        if (lastSeq >= 0 && p.seqno != static_cast<uint32_t>(lastSeq + 1)) hole = true;
        lastSeq = p.seqno;
        if (p.completed == 0) continue;
        int data = p.completed - p.completedEmpty;
        if (skip > 0) {
            const int taken = std::min(skip, p.completed);
            skip -= taken;
            data -= taken;
            if (data <= 0) continue;
        }
        if (data <= 0) continue;
        sp.pages.push_back(p);
        sp.afterHole.push_back(hole);
        hole = false;
        sp.first.push_back(next);
        next += static_cast<size_t>(data);
        sp.last.push_back(next - 1);
    }
    return sp;
}
