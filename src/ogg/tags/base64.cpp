#include "base64.h"

namespace tags {
namespace {
// Each character's value in the alphabet, -1 for any other byte: one table look-up per character (a cover
// of a megabyte is 1.4 million of them).
struct SextetTable {
    int8_t value[256];
    constexpr SextetTable() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = -1;
        for (int c = 'A'; c <= 'Z'; ++c)
            value[c] = static_cast<int8_t>(c - 'A');
        for (int c = 'a'; c <= 'z'; ++c)
            value[c] = static_cast<int8_t>(c - 'a' + 26);
        for (int c = '0'; c <= '9'; ++c)
            value[c] = static_cast<int8_t>(c - '0' + 52);
        value[static_cast<int>('+')] = 62;
        value[static_cast<int>('/')] = 63;
    }
};
constexpr SextetTable kSextets;

// The characters before the padding.
size_t BodyLength(const uint8_t* text, size_t length) {
    size_t body = length;
    if (length % 4 == 0 && length > 0) { // padded: at most two '=' at the very end
        if (text[length - 1] == '=') --body;
        if (text[length - 2] == '=') --body;
    }
    return body;
}
} // namespace

bool Base64DecodedSize(const uint8_t* text, size_t length, size_t* size) {
    const size_t body = BodyLength(text, length);
    int8_t any = 0; // the sign bit of every value: set when some character is outside the alphabet
    for (size_t i = 0; i < body; ++i)
        any |= kSextets.value[text[i]];
    if (any < 0 || body % 4 == 1) return false; // six bits cannot end a byte
    *size = body / 4 * 3 + (body % 4 == 0 ? 0 : body % 4 - 1);
    return true;
}

void DecodeBase64(const uint8_t* text, size_t length, uint8_t* out) {
    const size_t body = BodyLength(text, length);
    const int8_t* v = kSextets.value;
    size_t i = 0;
    for (; i + 4 <= body; i += 4) {
        const uint32_t bits =
            static_cast<uint32_t>(v[text[i]]) << 18 | static_cast<uint32_t>(v[text[i + 1]]) << 12 |
            static_cast<uint32_t>(v[text[i + 2]]) << 6 | static_cast<uint32_t>(v[text[i + 3]]);
        *out++ = static_cast<uint8_t>(bits >> 16);
        *out++ = static_cast<uint8_t>(bits >> 8);
        *out++ = static_cast<uint8_t>(bits);
    }
    if (body - i >= 2) { // two or three characters left: one or two bytes
        uint32_t bits = static_cast<uint32_t>(v[text[i]]) << 18 | static_cast<uint32_t>(v[text[i + 1]]) << 12;
        if (body - i == 3) bits |= static_cast<uint32_t>(v[text[i + 2]]) << 6;
        *out++ = static_cast<uint8_t>(bits >> 16);
        if (body - i == 3) *out = static_cast<uint8_t>(bits >> 8);
    }
}
} // namespace tags
