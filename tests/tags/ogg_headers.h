// The header packets of a file's streams, read with libogg in the test (the model is what is tested), handed
// to a tag model the way the core will: each stream's comment header by its codec's layout.
#pragma once
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <ogg/ogg.h>
#include <string>
#include <vector>

#include "tag_packets.h"

namespace tagtest {
struct StreamPackets {
    uint32_t serial = 0;
    std::vector<Bytes> packets; // the stream's first packets
};

// The first `perStream` packets of every stream of the file's first link, in the order the streams begin.
inline std::vector<StreamPackets> ReadFirstPackets(const std::string& path, size_t perStream = 16) {
    std::ifstream in(path, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buffer, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    std::vector<StreamPackets> streams;
    std::map<uint32_t, ogg_stream_state> states;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        const auto serial = static_cast<uint32_t>(ogg_page_serialno(&page));
        if (ogg_page_bos(&page) && !states.count(serial)) {
            ogg_stream_init(&states[serial], static_cast<int>(serial));
            streams.push_back(StreamPackets{serial, {}});
        }
        auto it = states.find(serial);
        if (it == states.end()) continue;
        ogg_stream_pagein(&it->second, &page);
        StreamPackets* s = nullptr;
        for (StreamPackets& candidate : streams)
            if (candidate.serial == serial) s = &candidate;
        ogg_packet packet;
        while (s->packets.size() < perStream && ogg_stream_packetout(&it->second, &packet) == 1)
            s->packets.emplace_back(packet.packet, packet.packet + packet.bytes);
    }
    for (auto& [serial, state] : states)
        ogg_stream_clear(&state);
    ogg_sync_clear(&sync);
    return streams;
}

inline bool StartsWith(const Bytes& b, const std::string& magic) {
    return b.size() >= magic.size() && std::memcmp(b.data(), magic.data(), magic.size()) == 0;
}

// Hands each stream's header packets to the model as the core will; every stream must have had its comment
// header taken whole.
inline void FeedPresentation(const std::vector<StreamPackets>& streams,
                             tags::CPresentationTags* presentation) {
    for (const StreamPackets& s : streams) {
        tags::CStreamTags* record = nullptr;
        ASSERT_EQ(presentation->AddStream(s.serial, &record), S_OK);
        ASSERT_FALSE(s.packets.empty());
        const Bytes& first = s.packets[0];
        int taken = 0;
        auto take = [&](tags::CommentLayout layout, const Bytes& p) {
            const HRESULT hr = record->TakeCommentPacket(layout, p.data(), p.size());
            EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
            taken += hr == S_OK;
        };
        if (StartsWith(first, "\x7F"
                              "FLAC")) { // the header count, then one metadata block per packet
            const size_t headers = first.size() > 8 ? static_cast<size_t>(first[7] << 8 | first[8]) : 0;
            for (size_t i = 1; i <= headers && i < s.packets.size(); ++i) {
                const HRESULT hr = record->TakeFlacMetadataBlock(s.packets[i].data(), s.packets[i].size());
                EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
            }
            taken = record->HasComments();
        } else if (StartsWith(first, "Speex   ")) {
            take(tags::CommentLayout::Speex, s.packets.at(1)); // the second packet, which has no magic
        } else {
            tags::CommentLayout layout = tags::CommentLayout::Ogm;
            if (StartsWith(first, "\x01vorbis")) layout = tags::CommentLayout::Vorbis;
            if (StartsWith(first, "\x80theora")) layout = tags::CommentLayout::Theora;
            if (StartsWith(first, "OpusHead")) layout = tags::CommentLayout::Opus;
            for (const Bytes& p : s.packets)
                take(layout, p); // every packet: only the comment header is taken
        }
        EXPECT_EQ(taken, 1) << "stream " << s.serial;
    }
}
} // namespace tagtest
