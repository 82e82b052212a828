// The packets of Ogg bytes, read with libogg: in the order they complete, each with the serial number
// of its stream. Holes (a stream joined mid-way) and a packet cut at the end are left out.
#pragma once
#include <cstdint>
#include <cstring>
#include <map>
#include <ogg/ogg.h>
#include <string>
#include <vector>

struct OggPacket {
    uint32_t serial = 0;
    std::string data;
    bool bos = false; // the first packet of its stream (an identification header)
};

inline std::vector<OggPacket> SplitPackets(const std::string& bytes) {
    std::vector<OggPacket> out;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(bytes.size()));
    std::memcpy(buffer, bytes.data(), bytes.size());
    ogg_sync_wrote(&sync, static_cast<long>(bytes.size()));
    std::map<uint32_t, ogg_stream_state> streams;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        const uint32_t serial = static_cast<uint32_t>(ogg_page_serialno(&page));
        auto it = streams.find(serial);
        if (it != streams.end() && ogg_page_bos(&page)) { // the serial again, in a later link
            ogg_stream_clear(&it->second);
            streams.erase(it);
            it = streams.end();
        }
        if (it == streams.end()) {
            it = streams.emplace(serial, ogg_stream_state{}).first;
            ogg_stream_init(&it->second, static_cast<int>(serial));
        }
        ogg_stream_pagein(&it->second, &page);
        ogg_packet p;
        for (int r; (r = ogg_stream_packetout(&it->second, &p)) != 0;)
            if (r == 1)
                out.push_back({serial,
                               std::string(reinterpret_cast<char*>(p.packet), static_cast<size_t>(p.bytes)),
                               p.b_o_s != 0});
    }
    for (auto& s : streams)
        ogg_stream_clear(&s.second);
    ogg_sync_clear(&sync);
    return out;
}
