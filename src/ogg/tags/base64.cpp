#include "base64.h"

namespace tags {
namespace {
// The value of a character of the alphabet, or -1.
int Sextet(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
} // namespace

bool Base64DecodedSize(const uint8_t* text, size_t length, size_t* size) {
    size_t body = length;
    if (length % 4 == 0 && length > 0) { // padded: at most two '=' at the very end
        if (text[length - 1] == '=') --body;
        if (text[length - 2] == '=') --body;
    }
    for (size_t i = 0; i < body; ++i)
        if (Sextet(text[i]) < 0) return false;
    if (body % 4 == 1) return false; // six bits cannot end a byte
    *size = body / 4 * 3 + (body % 4 == 0 ? 0 : body % 4 - 1);
    return true;
}

void DecodeBase64(const uint8_t* text, size_t length, uint8_t* out) {
    uint32_t bits = 0;
    int held = 0;
    for (size_t i = 0; i < length && text[i] != '='; ++i) {
        bits = bits << 6 | static_cast<uint32_t>(Sextet(text[i]));
        held += 6;
        if (held >= 8) {
            held -= 8;
            *out++ = static_cast<uint8_t>(bits >> held);
        }
    }
}
} // namespace tags
