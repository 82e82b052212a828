// The packets of one stream before they are cut into pages.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mux_description.h"

namespace oggmux {

struct MuxPacket {
    std::vector<uint8_t> bytes;
    int64_t granule = -1;
    double time = 0;            // seconds, for interleaving
    bool header = false;
    bool flushAfter = false;    // end the page after this packet (headers)
    bool key = false;
    bool eos = false;
    size_t payloadOffset = 0;   // where the payload a demuxer delivers begins (OGM: after the length bytes)
    int64_t duration = 0;       // in granule units
};

struct StreamPackets {
    uint32_t serial = 0;
    Kind kind = Kind::Vorbis;
    std::vector<MuxPacket> packets; // headers first
    int64_t timeUnit = 0;           // OGM forms: for the record
    int64_t samplesPerUnit = 0;
    int granuleShift = 0;           // Theora: the key frame shift of its granules
};

// Each returns false with a message when the description cannot be encoded.
bool MakeVorbis(const StreamDescription& d, StreamPackets* out, std::string* error);
bool MakeTheora(const StreamDescription& d, StreamPackets* out, std::string* error);
bool MakeOgm(const StreamDescription& d, uint64_t seed, StreamPackets* out, std::string* error);
bool MakeOpus(const StreamDescription& d, StreamPackets* out, std::string* error);
bool MakeFlac(const StreamDescription& d, StreamPackets* out, std::string* error);
bool MakeSpeex(const StreamDescription& d, StreamPackets* out, std::string* error);
// Skeleton: a fishead, a fisbone for each of the other streams of the file, and its end.
bool MakeSkeleton(const StreamDescription& d, const std::vector<StreamDescription>& all, StreamPackets* out,
                  std::string* error);

// Shared by the writers: a deterministic generator and the Vorbis comment packet.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    uint64_t m_state;
};

// Repeats the data packets after the headers until `seconds` are reached, shifting each copy's granule
// by `shift(granule, round)` and its time by the length of the encoded part.
void RepeatPackets(StreamPackets* out, double seconds, const std::function<int64_t(int64_t, int)>& shift);

std::vector<uint8_t> CommentPacket(const std::vector<std::string>& comments);
// The comment list without a packet type or framing bit (Opus, FLAC, Speex): vendor, count, comments.
std::vector<uint8_t> CommentList(const std::vector<std::string>& comments);
void PutLE(std::vector<uint8_t>* v, uint64_t x, int bytes);
void PutBE(std::vector<uint8_t>* v, uint64_t x, int bytes);

} // namespace oggmux
