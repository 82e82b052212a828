// Templates of every kind come from oggmux's writers (made once); the input picks kinds and serials,
// overwrites header fields, chooses data packets and their sizes, cuts them into pages and sets every page's
// flags and granule. Pages get right checksums from libogg.
#include "structured_file.h"

#include <ogg/ogg.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "packets.h"

namespace fuzz {

uint64_t Input::Edgy() {
    switch (Below(8)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return ~0ull;
    case 3: return 0x7fffffffffffffffull;
    case 4: return 0x8000000000000000ull;
    case 5: return 0x7fffffffull;
    case 6: return U32();
    default: return U64();
    }
}

namespace {

using Bytes = std::vector<uint8_t>;

struct Template {
    std::vector<Bytes> headers;
    std::vector<Bytes> data;
    std::vector<int64_t> granules; // of the data packets (-1: none of its own)
    int64_t step = 1;              // granule units per data packet, about
};

// A short stream of the kind, with the defaults oggmux gives that kind (OGM audio and text units and so on).
oggmux::StreamDescription Describe(oggmux::Kind kind) {
    const std::string json = std::string(R"({"streams": [{"kind": ")") + oggmux::KindName(kind) +
                             R"(", "serial": 1, "seconds": 0.3, "width": 32, "height": 32, "keyint": 4, "packets": 8,
        "packet_size": 300, "length_bytes": 2, "key_every": 3, "comments": ["TITLE=t", "DIRECTX_DURATION=5000", "ARTIST=a", "artist=b", "ALBUM=c", "ALBUMARTIST=d",
        "GENRE=g", "COMPOSER=e", "COMMENT=f", "DATE=2001-02-03", "TRACKNUMBER=03/12", "LANGUAGE=fr",
        "METADATA_BLOCK_PICTURE=AAAAAwAAAAlpbWFnZS9wbmcAAAABYwAAAAEAAAABAAAAGAAAAAAAAAAIiVBORw0KGgo="]}]})";
    oggmux::Description d;
    std::string error;
    if (!oggmux::ParseDescription(json, &d, &error) || d.streams.empty()) return oggmux::StreamDescription{};
    return d.streams[0];
}

bool MakeTemplate(oggmux::Kind kind, Template* t) {
    oggmux::StreamDescription d = Describe(kind);
    oggmux::StreamPackets s;
    std::string error;
    bool ok = false;
    switch (kind) {
    case oggmux::Kind::Vorbis: ok = oggmux::MakeVorbis(d, &s, &error); break;
    case oggmux::Kind::Theora: ok = oggmux::MakeTheora(d, &s, &error); break;
    case oggmux::Kind::Opus: ok = oggmux::MakeOpus(d, &s, &error); break;
    case oggmux::Kind::Flac: ok = oggmux::MakeFlac(d, &s, &error); break;
    case oggmux::Kind::Speex: ok = oggmux::MakeSpeex(d, &s, &error); break;
    case oggmux::Kind::Skeleton: ok = oggmux::MakeSkeleton(d, {d, Describe(oggmux::Kind::Vorbis)}, &s, &error); break;
    default: ok = oggmux::MakeOgm(d, 7, &s, &error); break;
    }
    if (!ok) return false;
    for (const oggmux::MuxPacket& p : s.packets) {
        if (p.header) {
            t->headers.push_back(p.bytes);
        } else if (t->data.size() < 12) {
            t->data.push_back(p.bytes);
            t->granules.push_back(p.granule);
        }
    }
    if (!t->data.empty() && t->granules.back() > 0) t->step = t->granules.back() / static_cast<int64_t>(t->data.size()) + 1;
    return true;
}

const std::vector<Template>& Templates() {
    static const std::vector<Template> all = [] {
        std::vector<Template> v;
        for (oggmux::Kind k : {oggmux::Kind::Vorbis, oggmux::Kind::Theora, oggmux::Kind::OgmVideo, oggmux::Kind::OgmAudio,
                               oggmux::Kind::OgmText, oggmux::Kind::DirectX, oggmux::Kind::DShow, oggmux::Kind::Unknown,
                               oggmux::Kind::Opus, oggmux::Kind::Flac, oggmux::Kind::Speex, oggmux::Kind::Skeleton}) {
            Template t;
            if (!MakeTemplate(k, &t) || t.headers.empty()) std::abort(); // the harness itself is broken
            v.push_back(std::move(t));
        }
        return v;
    }();
    return all;
}

// One stream's packets as the input wants them: the kind's headers with fields overwritten (any width, edge
// values), then data packets taken from the kind's, from other kinds', or made of the input's bytes.
struct Planned {
    uint32_t serial = 0;
    std::vector<Bytes> packets;
    std::vector<int64_t> granules;
    size_t headers = 0;
};

void Patch(Input* in, Bytes* packet) {
    if (packet->empty()) return;
    const size_t at = in->U16() % packet->size();
    const unsigned width = 1u << in->Below(4); // 1, 2, 4 or 8 bytes
    const uint64_t value = in->Edgy();
    for (unsigned i = 0; i < width && at + i < packet->size(); ++i) (*packet)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes DataPacket(Input* in, const Template& t, size_t i) {
    const std::vector<Template>& all = Templates();
    switch (in->Below(8)) {
    case 0: { // the input's own bytes
        Bytes b(in->Below(4) == 0 ? in->U16() % 70000 : in->Below(64));
        for (uint8_t& x : b) x = in->U8();
        return b;
    }
    case 1: { // another kind's packet
        const Template& o = all[in->Below(static_cast<unsigned>(all.size()))];
        return o.data.empty() ? Bytes{} : o.data[i % o.data.size()];
    }
    default: {
        Bytes b = t.data.empty() ? Bytes(4, 0) : t.data[i % t.data.size()];
        if (in->Below(4) == 0) Patch(in, &b);
        return b;
    }
    }
}

Planned Plan(Input* in, const Template& t, uint32_t serial) {
    Planned p;
    p.serial = serial;
    const size_t headers = in->Below(8) == 0 ? in->Below(static_cast<unsigned>(t.headers.size() + 1)) : t.headers.size();
    for (size_t h = 0; h < headers; ++h) {
        Bytes b = t.headers[h];
        for (unsigned n = in->Below(4) == 0 ? in->Below(4) : 0; n > 0; --n) Patch(in, &b);
        p.packets.push_back(std::move(b));
        p.granules.push_back(0);
    }
    p.headers = headers;
    const size_t count = in->Below(48);
    for (size_t i = 0; i < count; ++i) {
        p.packets.push_back(DataPacket(in, t, i));
        const int64_t g = t.granules.empty() ? -1 : t.granules[i % t.granules.size()];
        const int64_t round = static_cast<int64_t>(i / (t.granules.empty() ? 1 : t.granules.size()));
        p.granules.push_back(g < 0 ? -1 : g + round * t.step * static_cast<int64_t>(t.granules.size()));
    }
    return p;
}

struct Page {
    uint8_t flags = 0;
    int64_t granule = -1;
    Bytes lacing, body;
};

// Packets cut into pages: a page ends after a packet when the input says so, when it holds 255 segments, or
// at a body size the input chose; a packet that does not fit goes on, continued, on the next page.
std::vector<Page> Cut(Input* in, const Planned& p) {
    std::vector<Page> pages(1);
    pages.back().flags = 2; // the beginning of the stream
    const size_t target = 512 + in->Below(16) * 1024;
    for (size_t k = 0; k < p.packets.size(); ++k) {
        const Bytes& packet = p.packets[k];
        for (size_t at = 0;;) {
            if (pages.back().lacing.size() == 255) {
                pages.push_back(Page{});
                pages.back().flags = at > 0 ? 1 : 0; // continued
            }
            Page& page = pages.back();
            const size_t take = packet.size() - at < 255 ? packet.size() - at : 255;
            page.lacing.push_back(static_cast<uint8_t>(take));
            page.body.insert(page.body.end(), packet.begin() + static_cast<long>(at), packet.begin() + static_cast<long>(at + take));
            at += take;
            if (take < 255) break; // a lacing value below 255 ends the packet
        }
        Page& page = pages.back();
        page.granule = p.granules[k];
        const bool header = k < p.headers;
        if ((header && (k == 0 || k + 1 == p.headers)) || in->Below(4) == 0 || page.body.size() >= target) pages.push_back(Page{});
    }
    if (pages.back().lacing.empty() && pages.size() > 1) pages.pop_back();
    pages.back().flags |= 4; // the end of the stream
    return pages;
}

// Odd flags and granules: the input may set or clear any flag and give any page any granule.
void Disturb(Input* in, std::vector<Page>* pages) {
    for (Page& page : *pages) {
        switch (in->Below(16)) {
        case 0: page.granule = static_cast<int64_t>(in->Edgy()); break;
        case 1: page.granule = -1; break;
        case 2: page.flags ^= static_cast<uint8_t>(1u << in->Below(3)); break;
        case 3: page.flags = in->U8(); break;
        default: break;
        }
    }
}

void Write(Bytes* out, const Page& page, uint32_t serial, uint32_t sequence) {
    Bytes header(27);
    std::memcpy(header.data(), "OggS", 4);
    header[5] = page.flags;
    for (int i = 0; i < 8; ++i) header[6 + i] = static_cast<uint8_t>(static_cast<uint64_t>(page.granule) >> (8 * i));
    for (int i = 0; i < 4; ++i) header[14 + i] = static_cast<uint8_t>(serial >> (8 * i));
    for (int i = 0; i < 4; ++i) header[18 + i] = static_cast<uint8_t>(sequence >> (8 * i));
    header[26] = static_cast<uint8_t>(page.lacing.size());
    header.insert(header.end(), page.lacing.begin(), page.lacing.end());
    Bytes body = page.body;
    ogg_page og{header.data(), static_cast<long>(header.size()), body.data(), static_cast<long>(body.size())};
    ogg_page_checksum_set(&og);
    out->insert(out->end(), header.begin(), header.end());
    out->insert(out->end(), body.begin(), body.end());
}

// One link: each stream's first page first (as real files have them, unless the input says otherwise), then
// the pages of all streams in an order the input picks, each stream's own in order.
void WriteLink(Input* in, Bytes* out) {
    const std::vector<Template>& all = Templates();
    const unsigned streams = 1 + in->Below(3);
    std::vector<std::vector<Page>> pages;
    std::vector<uint32_t> serials;
    for (unsigned s = 0; s < streams; ++s) {
        const uint32_t serial = in->Below(8) == 0 ? in->U32() : 1 + in->Below(4);
        const Planned plan = Plan(in, all[in->Below(static_cast<unsigned>(all.size()))], serial);
        pages.push_back(Cut(in, plan));
        Disturb(in, &pages.back());
        serials.push_back(serial);
    }
    std::vector<size_t> next(streams, 0);
    const bool firstPagesFirst = in->Below(8) != 0;
    for (unsigned s = 0; firstPagesFirst && s < streams; ++s) Write(out, pages[s][next[s]++], serials[s], 0);
    for (size_t left = 1; left > 0;) {
        left = 0;
        for (unsigned s = 0; s < streams; ++s) left += pages[s].size() - next[s];
        if (!left) break;
        unsigned s = in->Below(streams);
        while (next[s] == pages[s].size()) s = (s + 1) % streams;
        Write(out, pages[s][next[s]], serials[s], static_cast<uint32_t>(next[s]));
        ++next[s];
    }
}
} // namespace

std::vector<uint8_t> BuildFile(Input* in) {
    Bytes out;
    if (Templates().empty()) return out;
    if (in->Below(8) == 0) { // junk ahead of the first page
        out.resize(in->U16() % 4096);
        for (uint8_t& b : out) b = in->U8();
    }
    const unsigned links = in->Below(6) == 0 ? 2 + in->Below(2) : 1;
    for (unsigned l = 0; l < links; ++l) WriteLink(in, &out);
    if (in->Below(8) == 0 && !out.empty()) out.resize(out.size() - in->U16() % out.size()); // cut short
    return out;
}

} // namespace fuzz
