// An Ogg file described by the fuzzer's bytes and written as valid pages (checksums right), so that what lies
// behind the page checksum is reached: streams of every kind with header fields overwritten, packets of any
// size cut across pages, beginning and end flags in odd places, any 64-bit granule, chains and junk.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

// The fuzzer's bytes read front to back; zeros once they run out.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t U8() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    uint64_t U64() { return static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32; }
    bool Bit() { return U8() & 1; }
    unsigned Below(unsigned n) { return n ? U8() % n : 0; }
    // A value that often sits on an edge: 0, 1, -1, the ends of the signed ranges, or any 64 bits.
    uint64_t Edgy();
    bool Empty() const { return m_at >= m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// The file the input describes (the input decides everything; the same input, the same file).
std::vector<uint8_t> BuildFile(Input* in);

} // namespace fuzz
