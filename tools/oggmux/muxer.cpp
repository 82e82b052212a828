#include "muxer.h"

#include <ogg/ogg.h>
#include <zlib.h>

namespace oggmux {

namespace {
struct Page {
    std::vector<uint8_t> bytes;
    double time = 0;
    bool header = false;
};

struct Paginated {
    std::vector<Page> pages;
    std::vector<int> packetPage; // stream-local page index of each packet
};

// Packets completed on a page: lacing values below 255.
int CompletedPackets(const ogg_page& og) {
    int segments = og.header[26], done = 0;
    for (int i = 0; i < segments; ++i) done += og.header[27 + i] < 255;
    return done;
}

void Paginate(const StreamPackets& s, const StreamDescription& d, Paginated* out) {
    ogg_stream_state os;
    ogg_stream_init(&os, static_cast<int>(s.serial));
    size_t cursor = 0; // first packet not yet placed on a page
    auto take = [&](ogg_page& og) {
        Page page;
        page.bytes.assign(og.header, og.header + og.header_len);
        page.bytes.insert(page.bytes.end(), og.body, og.body + og.body_len);
        int done = CompletedPackets(og);
        size_t last = cursor + (done ? done - 1 : 0);
        if (last >= s.packets.size()) last = s.packets.size() - 1;
        page.time = s.packets[last].time;
        page.header = s.packets[last].header;
        for (int i = 0; i < done && cursor < s.packets.size(); ++i) out->packetPage[cursor++] = static_cast<int>(out->pages.size());
        out->pages.push_back(std::move(page));
    };
    out->packetPage.assign(s.packets.size(), -1);
    int dataIndex = 0;
    for (size_t k = 0; k < s.packets.size(); ++k) {
        const MuxPacket& p = s.packets[k];
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(p.bytes.data());
        op.bytes = static_cast<long>(p.bytes.size());
        op.b_o_s = k == 0;
        op.e_o_s = k + 1 == s.packets.size();
        op.granulepos = p.granule;
        op.packetno = static_cast<ogg_int64_t>(k);
        ogg_stream_packetin(&os, &op);
        ogg_page og;
        bool flush = p.flushAfter || (!p.header && d.flushEvery > 0 && ++dataIndex % d.flushEvery == 0);
        if (flush) {
            while (ogg_stream_flush(&os, &og) > 0) take(og);
        } else if (d.pageFill > 0) {
            while (ogg_stream_pageout_fill(&os, &og, d.pageFill) > 0) take(og);
        } else {
            while (ogg_stream_pageout(&os, &og) > 0) take(og);
        }
    }
    ogg_page og;
    while (ogg_stream_flush(&os, &og) > 0) take(og);
    ogg_stream_clear(&os);
}

// A granule origin: every data packet's granule and time moved on by d.start seconds, as in a file cut out of
// a longer one or written with an offset.
void ShiftStart(const StreamDescription& d, StreamPackets* s) {
    if (d.start <= 0) return;
    int64_t units = 0;
    if (s->kind == Kind::Vorbis || s->kind == Kind::Flac || s->kind == Kind::Speex)
        units = static_cast<int64_t>(d.start * d.rate + 0.5);
    else if (s->kind == Kind::Opus) units = static_cast<int64_t>(d.start * 48000 + 0.5);
    else if (s->kind == Kind::Theora) units = static_cast<int64_t>(d.start * d.fpsNum / (d.fpsDen ? d.fpsDen : 1) + 0.5);
    else if (d.timeUnit > 0) units = static_cast<int64_t>(d.start * 1e7 * static_cast<double>(d.samplesPerUnit) / d.timeUnit + 0.5);
    for (MuxPacket& p : s->packets) {
        if (p.header) continue;
        p.time += d.start;
        if (p.granule < 0) continue;
        if (s->kind == Kind::Theora) p.granule += units << s->granuleShift; // whole frames on the key frame part
        else p.granule += units;
    }
}

bool Contains(const std::vector<int>& v, int x) {
    for (int y : v)
        if (y == x) return true;
    return false;
}

void ApplyDamage(const Damage& dmg, const std::vector<const Page*>& order, uint64_t seed, std::vector<uint8_t>* file) {
    Rng rng(seed ^ 0xDA3A6Eull);
    for (size_t i = 0; i < order.size(); ++i) {
        int index = static_cast<int>(i);
        if (dmg.garbageEvery > 0 && index > 0 && index % dmg.garbageEvery == 0) {
            for (int g = 0; g < dmg.garbageBytes; ++g) file->push_back(static_cast<uint8_t>('a' + rng.Next() % 26));
        }
        if (Contains(dmg.dropPages, index)) continue;
        size_t at = file->size();
        file->insert(file->end(), order[i]->bytes.begin(), order[i]->bytes.end());
        if (Contains(dmg.corruptCrcPages, index)) (*file)[at + 22] ^= 0x5A;
    }
    if (dmg.truncateAt >= 0 && static_cast<size_t>(dmg.truncateAt) < file->size())
        file->resize(static_cast<size_t>(dmg.truncateAt));
}

bool MakeStream(const Description& desc, const StreamDescription& d, StreamPackets* s, std::string* error) {
    switch (d.kind) {
    case Kind::Vorbis: return MakeVorbis(d, s, error);
    case Kind::Theora: return MakeTheora(d, s, error);
    case Kind::Opus: return MakeOpus(d, s, error);
    case Kind::Flac: return MakeFlac(d, s, error);
    case Kind::Speex: return MakeSpeex(d, s, error);
    case Kind::Skeleton: return MakeSkeleton(d, desc.streams, s, error);
    default: return MakeOgm(d, desc.seed, s, error);
    }
}

// An ID3v2 tag of n bytes (its 10-byte header, then padding), as taggers put before audio files.
void Id3Tag(int n, std::vector<uint8_t>* file) {
    const uint32_t size = static_cast<uint32_t>(n - 10);
    file->insert(file->end(), {'I', 'D', '3', 4, 0, 0});
    for (int shift = 21; shift >= 0; shift -= 7) file->push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
    file->insert(file->end(), size, 0);
}

bool MuxLink(const Description& desc, int link, MuxResult* out, std::string* error);
} // namespace

bool Mux(const Description& desc, MuxResult* out, std::string* error) {
    if (desc.damage.notOgg >= 0) {
        Rng rng(desc.seed);
        out->file.resize(static_cast<size_t>(desc.damage.notOgg));
        for (auto& b : out->file) b = static_cast<uint8_t>(rng.Next());
        return true;
    }
    if (desc.damage.junkPrefix > 0) Id3Tag(desc.damage.junkPrefix, &out->file);
    if (desc.links.empty()) return MuxLink(desc, 0, out, error);
    for (size_t k = 0; k < desc.links.size(); ++k)
        if (!MuxLink(desc.links[k], static_cast<int>(k), out, error)) return false;
    return true;
}

namespace {
// One link (the whole file when not chained), appended to what out holds.
bool MuxLink(const Description& desc, int link, MuxResult* out, std::string* error) {
    out->linkOffsets.push_back(out->file.size());
    const int base = out->pages;
    std::vector<StreamPackets> streams(desc.streams.size());
    std::vector<Paginated> paged(desc.streams.size());
    for (size_t i = 0; i < desc.streams.size(); ++i) {
        const StreamDescription& d = desc.streams[i];
        streams[i].serial = d.serial;
        streams[i].kind = d.kind;
        bool ok = MakeStream(desc, d, &streams[i], error);
        if (!ok) return false;
        if (streams[i].packets.empty()) {
            *error = "a stream without packets";
            return false;
        }
        ShiftStart(d, &streams[i]);
        Paginate(streams[i], d, &paged[i]);
    }

    // Order: every stream's first page, then the other header pages, then data pages by time.
    std::vector<const Page*> order;
    std::vector<std::vector<int>> globalIndex(streams.size());
    std::vector<size_t> next(streams.size(), 0);
    auto emit = [&](size_t s) {
        globalIndex[s].push_back(static_cast<int>(order.size()));
        order.push_back(&paged[s].pages[next[s]++]);
    };
    for (size_t s = 0; s < streams.size(); ++s) emit(s);
    for (size_t s = 0; s < streams.size(); ++s)
        while (next[s] < paged[s].pages.size() && paged[s].pages[next[s]].header) emit(s);
    for (;;) {
        size_t best = streams.size();
        for (size_t s = 0; s < streams.size(); ++s) {
            if (next[s] >= paged[s].pages.size()) continue;
            if (best == streams.size() || paged[s].pages[next[s]].time < paged[best].pages[next[best]].time) best = s;
        }
        if (best == streams.size()) break;
        emit(best);
    }
    out->pages += static_cast<int>(order.size());
    std::vector<uint8_t> bytes;
    ApplyDamage(desc.damage, order, desc.seed, &bytes);
    out->file.insert(out->file.end(), bytes.begin(), bytes.end());

    for (size_t s = 0; s < streams.size(); ++s) {
        StreamRecord r;
        r.serial = streams[s].serial;
        r.kind = streams[s].kind;
        r.link = link;
        r.timeUnit = streams[s].timeUnit;
        r.samplesPerUnit = streams[s].samplesPerUnit;
        for (size_t k = 0; k < streams[s].packets.size(); ++k) {
            const MuxPacket& p = streams[s].packets[k];
            PacketRecord pr;
            size_t offset = std::min(p.payloadOffset, p.bytes.size());
            pr.rawSize = p.bytes.size();
            pr.size = p.bytes.size() - offset;
            pr.granule = p.granule;
            int local = paged[s].packetPage[k];
            pr.page = local >= 0 ? base + globalIndex[s][static_cast<size_t>(local)] : -1;
            pr.crc32 = static_cast<uint32_t>(crc32(0L, p.bytes.data() + offset, static_cast<uInt>(pr.size)));
            pr.key = p.key;
            pr.duration = p.duration;
            (p.header ? r.headers : r.packets).push_back(pr);
        }
        out->streams.push_back(std::move(r));
    }
    return true;
}
} // namespace

} // namespace oggmux
