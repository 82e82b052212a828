// oggmux writes the fixtures every other test stands on: it must be deterministic, readable by libogg
// page by page, and agree with an established demuxer about what is in its files.
#include <gtest/gtest.h>

#include "common/shell.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <ogg/ogg.h>
#include <zlib.h>

#include "muxer.h"

using namespace oggmux;

namespace {
MuxResult MuxJson(const std::string& json) {
    Description d;
    std::string error;
    EXPECT_TRUE(ParseDescription(json, &d, &error)) << error;
    MuxResult r;
    EXPECT_TRUE(Mux(d, &r, &error)) << error;
    return r;
}

std::string WriteTemp(const MuxResult& r, const std::string& name) {
    std::string path = std::string(::testing::TempDir()) + "/oggmux-" + name + ".ogg";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(r.file.data()), static_cast<std::streamsize>(r.file.size()));
    return path;
}


struct ReadBack {
    int pages = 0, badSpans = 0;
    std::map<uint32_t, std::vector<uint32_t>> packetCrcs; // serial -> CRC of every whole packet
};

// Reads a file the way a demuxer does: libogg finds the pages, a stream state per serial rebuilds packets.
ReadBack ReadWithLibogg(const std::vector<uint8_t>& file) {
    ReadBack rb;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    std::map<uint32_t, ogg_stream_state> streams;
    char* buf = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buf, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    ogg_page og;
    for (int r; (r = ogg_sync_pageout(&sync, &og)) != 0;) {
        if (r < 0) {
            ++rb.badSpans;
            continue;
        }
        ++rb.pages;
        uint32_t serial = static_cast<uint32_t>(ogg_page_serialno(&og));
        if (!streams.count(serial)) ogg_stream_init(&streams[serial], static_cast<int>(serial));
        ogg_stream_pagein(&streams[serial], &og);
        ogg_packet op;
        while (ogg_stream_packetout(&streams[serial], &op) > 0)
            rb.packetCrcs[serial].push_back(static_cast<uint32_t>(crc32(0, op.packet, static_cast<uInt>(op.bytes))));
    }
    for (auto& s : streams) ogg_stream_clear(&s.second);
    ogg_sync_clear(&sync);
    return rb;
}

const char* kEveryKind = R"({"seed": 3, "streams": [
    {"kind": "vorbis", "serial": 10, "seconds": 1.5, "comments": ["DIRECTX_DURATION=15000000"]},
    {"kind": "theora", "serial": 11, "width": 176, "height": 144, "pic_x": 0, "seconds": 1, "keyint": 8,
     "aspect_num": 4, "aspect_den": 3},
    {"kind": "ogm_video", "serial": 12, "packets": 30, "length_bytes": 3, "packet_duration": 1, "key_every": 5},
    {"kind": "ogm_audio", "serial": 13, "format_tag": 1, "packets": 20, "extra": "a1b2"},
    {"kind": "ogm_text", "serial": 14, "lines": [{"start": 0, "duration": 900, "text": "one"},
                                                 {"start": 1000, "duration": 400, "text": "two"}]},
    {"kind": "directx", "serial": 15, "media": "audio", "packets": 10},
    {"kind": "dshow", "serial": 16, "media": "video", "packets": 10},
    {"kind": "unknown", "serial": 17, "packets": 5}]})";
} // namespace

TEST(Oggmux, SameDescriptionSameBytesAndLiboggReadsEveryPacket) {
    MuxResult a = MuxJson(kEveryKind), b = MuxJson(kEveryKind);
    ASSERT_FALSE(a.file.empty());
    EXPECT_EQ(a.file, b.file);
    EXPECT_EQ(RecordJson(a), RecordJson(b));

    ReadBack rb = ReadWithLibogg(a.file);
    EXPECT_EQ(rb.pages, a.pages);
    EXPECT_EQ(rb.badSpans, 0);
    ASSERT_EQ(a.streams.size(), 8u);
    for (const auto& s : a.streams) {
        const auto& got = rb.packetCrcs[s.serial];
        ASSERT_EQ(got.size(), s.headers.size() + s.packets.size()) << KindName(s.kind);
        // OGM payload CRCs leave out the type and length bytes; compare whole packets where they are whole.
        for (size_t i = 0; i < s.headers.size(); ++i) EXPECT_EQ(got[i], s.headers[i].crc32);
        if (s.kind == Kind::Vorbis || s.kind == Kind::Theora || s.kind == Kind::Unknown) {
            for (size_t i = 0; i < s.packets.size(); ++i) EXPECT_EQ(got[s.headers.size() + i], s.packets[i].crc32);
        }
        for (const auto& p : s.packets) EXPECT_GE(p.page, 0);
    }
    // Each stream's first page comes before any stream's second page.
    for (const auto& s : a.streams) EXPECT_LT(s.headers[0].page, static_cast<int>(a.streams.size()));
    // OGM length bytes: three of them, the payload starts after them.
    const StreamRecord& video = a.streams[2];
    EXPECT_EQ(video.packets[0].rawSize, video.packets[0].size + 4);
    EXPECT_TRUE(video.packets[0].key);
    EXPECT_FALSE(video.packets[1].key);
    EXPECT_TRUE(video.packets[5].key);
}

TEST(Oggmux, AgreesWithFfprobeOnEveryKindItReads) {
    // ffprobe reads every kind but "directx" (its OGM reader knows "video", "audio", "text" and the
    // DirectShow-embedded form only) and the unknown codec. OGM audio uses format tag 1 (PCM): for tags
    // such as 0x55 (MP3) ffprobe runs a parser that re-cuts the (synthetic) payload into other packets.
    const char* kinds[] = {
        R"({"kind": "vorbis", "serial": 5, "seconds": 1})",
        R"({"kind": "theora", "serial": 6, "seconds": 1, "keyint": 10})",
        R"({"kind": "ogm_video", "serial": 7, "packets": 20, "length_bytes": 2, "packet_duration": 1})",
        R"({"kind": "ogm_audio", "serial": 8, "format_tag": 1, "packets": 12})",
        R"({"kind": "ogm_text", "serial": 9, "packets": 4})",
        R"({"kind": "dshow", "serial": 10, "media": "video", "packets": 10})",
        R"({"kind": "dshow", "serial": 11, "media": "audio", "packets": 10, "extra": "0102"})",
    };
    const char* types[] = {"audio", "video", "video", "audio", "subtitle", "video", "audio"};
    for (size_t k = 0; k < std::size(kinds); ++k) {
        SCOPED_TRACE(kinds[k]);
        MuxResult r = MuxJson(std::string(R"({"streams": [)") + kinds[k] + "]}");
        std::string path = WriteTemp(r, "ffprobe" + std::to_string(k));
        auto j = nlohmann::json::parse(
            Shell("ffprobe -v error -show_streams -show_packets -show_data_hash CRC32 -of json '" + path + "'"),
            nullptr, false);
        ASSERT_FALSE(j.is_discarded());
        ASSERT_EQ(j["streams"].size(), 1u);
        EXPECT_EQ(j["streams"][0]["codec_type"], types[k]);
        const auto& packets = r.streams[0].packets;
        ASSERT_EQ(j["packets"].size(), packets.size()) << "ffprobe delivers data packets only, headers go to extradata";
        for (size_t i = 0; i < packets.size(); ++i) {
            char want[32];
            std::snprintf(want, sizeof want, "CRC32:%08x", packets[i].crc32);
            EXPECT_EQ(j["packets"][i]["data_hash"], want) << "packet " << i;
            EXPECT_EQ(std::stoul(j["packets"][i]["size"].template get<std::string>()), packets[i].size);
        }
    }
}

TEST(Oggmux, DamageOptionsDoWhatTheySay) {
    const std::string streams = R"("streams": [{"kind": "ogm_video", "serial": 1, "packets": 40, "packet_size": 3000}])";
    MuxResult clean = MuxJson("{" + streams + "}");
    ReadBack cleanRead = ReadWithLibogg(clean.file);
    ASSERT_GT(clean.pages, 6);

    MuxResult garbage = MuxJson("{" + streams + R"(, "damage": {"garbage": {"every": 2, "bytes": 37}}})");
    ReadBack g = ReadWithLibogg(garbage.file);
    EXPECT_EQ(g.pages, clean.pages) << "libogg skips the garbage and still finds every page";
    EXPECT_GT(g.badSpans, 0);
    EXPECT_EQ(garbage.file.size(), clean.file.size() + 37 * static_cast<size_t>((clean.pages - 1) / 2));

    MuxResult dropped = MuxJson("{" + streams + R"(, "damage": {"drop_pages": [3, 4]}})");
    EXPECT_EQ(ReadWithLibogg(dropped.file).pages, clean.pages - 2);

    MuxResult corrupt = MuxJson("{" + streams + R"(, "damage": {"corrupt_crc_pages": [5]}})");
    ReadBack c = ReadWithLibogg(corrupt.file);
    EXPECT_EQ(c.pages, clean.pages - 1) << "a page with a wrong CRC is refused";
    EXPECT_EQ(corrupt.file.size(), clean.file.size());

    MuxResult cut = MuxJson("{" + streams + R"(, "damage": {"truncate_at": 5000}})");
    EXPECT_EQ(cut.file.size(), 5000u);
    EXPECT_LT(ReadWithLibogg(cut.file).pages, clean.pages);

    MuxResult notOgg = MuxJson(R"({"streams": [], "damage": {"not_ogg": 4096}})");
    EXPECT_EQ(notOgg.file.size(), 4096u);
    EXPECT_EQ(ReadWithLibogg(notOgg.file).pages, 0);
}

TEST(Oggmux, OddPagesManyStreamsAndSharedLowSerialBits) {
    MuxResult r = MuxJson(R"({"streams": [
        {"kind": "ogm_video", "serial": 256, "serial_step": 256, "count": 34, "packets": 3, "packet_size": 20},
        {"kind": "ogm_audio", "serial": 7, "packets": 600, "packet_size": 1, "page_fill": 100000},
        {"kind": "ogm_video", "serial": 8, "packets": 4, "big_packet_every": 2, "big_packet_size": 150000,
         "empty_packet_every": 3}]})");
    ASSERT_EQ(r.streams.size(), 36u);
    EXPECT_EQ(r.streams[33].serial, 34u * 256);
    EXPECT_EQ(r.streams[33].serial & 0xFF, r.streams[0].serial & 0xFF);
    ReadBack rb = ReadWithLibogg(r.file);
    EXPECT_EQ(rb.pages, r.pages);

    // Pages of 255 lacing values (tiny packets), pages on which no packet ends (granule -1), empty packets.
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buf = ogg_sync_buffer(&sync, static_cast<long>(r.file.size()));
    std::memcpy(buf, r.file.data(), r.file.size());
    ogg_sync_wrote(&sync, static_cast<long>(r.file.size()));
    ogg_page og;
    int full = 0, unfinished = 0;
    while (ogg_sync_pageout(&sync, &og) > 0) {
        if (og.header[26] == 255) ++full;
        if (ogg_page_granulepos(&og) == -1) ++unfinished;
    }
    ogg_sync_clear(&sync);
    EXPECT_GT(full, 0);
    EXPECT_GT(unfinished, 0);
    EXPECT_EQ(r.streams[35].packets[2].rawSize, 0u) << "the third packet is empty, not even a type byte";
}
