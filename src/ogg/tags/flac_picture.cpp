#include "flac_picture.h"

#include "tag_limits.h"

namespace tags {
namespace {
// Big-endian, as FLAC writes its numbers.
class CReader {
public:
    CReader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    bool U32(uint32_t* v) {
        if (m_n - m_at < 4) return false;
        const uint8_t* b = m_p + m_at;
        *v = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
             static_cast<uint32_t>(b[2]) << 8 | b[3];
        m_at += 4;
        return true;
    }
    // A length, then that many bytes.
    bool Bytes(const uint8_t** bytes, size_t* length) {
        uint32_t n = 0;
        if (!U32(&n) || n > m_n - m_at) return false;
        *bytes = m_p + m_at;
        *length = n;
        m_at += n;
        return true;
    }
    size_t At() const { return m_at; }

private:
    const uint8_t* m_p;
    size_t m_n, m_at = 0;
};
} // namespace

bool ParseFlacPicture(const uint8_t* block, size_t size, FlacPictureFields* out) {
    CReader r(block, size);
    FlacPictureFields f;
    if (!r.U32(&f.type) || !r.Bytes(&f.mime, &f.mimeLength) || f.mimeLength > kMaxMimeBytes ||
        !r.Bytes(&f.description, &f.descriptionLength) || !r.U32(&f.width) || !r.U32(&f.height) ||
        !r.U32(&f.depth) || !r.U32(&f.colors))
        return false;
    const uint8_t* data = nullptr;
    if (!r.Bytes(&data, &f.dataLength)) return false;
    f.dataOffset = static_cast<size_t>(data - block);
    *out = f;
    return true;
}
} // namespace tags
