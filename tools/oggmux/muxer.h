// Cuts every stream's packets into pages, interleaves the pages by time, applies the damage asked for,
// and keeps the record of where every packet went.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "packets.h"

namespace oggmux {

struct PacketRecord {
    size_t size = 0;     // payload a demuxer delivers
    size_t rawSize = 0;  // the whole Ogg packet
    int64_t granule = -1;
    int page = -1;       // index, among the pages written before damage, of the page the packet ends on
    uint32_t crc32 = 0;  // zlib's CRC-32 of the delivered payload
    bool key = false;
    int64_t duration = 0;
};

struct StreamRecord {
    uint32_t serial = 0;
    Kind kind = Kind::Vorbis;
    int link = 0; // a chained file's link the stream belongs to
    int64_t timeUnit = 0, samplesPerUnit = 0;
    std::vector<PacketRecord> headers, packets;
};

struct MuxResult {
    std::vector<uint8_t> file;
    int pages = 0; // pages written before damage
    std::vector<StreamRecord> streams;
    std::vector<size_t> linkOffsets; // a chained file: where each link begins (one entry otherwise: 0 or the junk)
};

bool Mux(const Description& description, MuxResult* out, std::string* error);

// The record as JSON text.
std::string RecordJson(const MuxResult& result);

} // namespace oggmux
