// MD5 (RFC 1321), the digest `oggsource decode` prints of each stream's decoded output.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace decode {
class Md5 {
public:
    Md5();
    void Add(const void* data, size_t size);
    // The digest as 32 lowercase hexadecimal digits; the object then starts again.
    std::string Hex();

private:
    void Block(const uint8_t* p);
    uint32_t m_state[4];
    uint64_t m_bytes = 0;
    uint8_t m_buffer[64];
};

// The digest of one buffer.
std::string Md5Hex(const void* data, size_t size);
} // namespace decode
