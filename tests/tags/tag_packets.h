// Comment headers and pictures built by hand for the tag model's tests, in every layout the model reads, and
// the model's text back as UTF-8 for comparisons.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ogg/tags/presentation_tags.h"

namespace tagtest {
using Bytes = std::vector<uint8_t>;

inline void PutLE32(Bytes* b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutBE32(Bytes* b, uint32_t v) {
    for (int i = 3; i >= 0; --i)
        b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Put(Bytes* b, const std::string& s) {
    b->insert(b->end(), s.begin(), s.end());
}

// The Vorbis comment layout: vendor, count, comments (the count may be stated otherwise).
inline Bytes CommentBody(const std::string& vendor, const std::vector<std::string>& comments,
                         int64_t count = -1) {
    Bytes b;
    PutLE32(&b, static_cast<uint32_t>(vendor.size()));
    Put(&b, vendor);
    PutLE32(&b, count < 0 ? static_cast<uint32_t>(comments.size()) : static_cast<uint32_t>(count));
    for (const std::string& c : comments) {
        PutLE32(&b, static_cast<uint32_t>(c.size()));
        Put(&b, c);
    }
    return b;
}

inline Bytes WithMagic(const std::string& magic, const Bytes& body, bool framing = false) {
    Bytes b;
    b.reserve(magic.size() + body.size() + 1); // room first: GCC 12 warns wrongly about an insert that grows
    b.insert(b.end(), magic.begin(), magic.end());
    b.insert(b.end(), body.begin(), body.end());
    if (framing) b.push_back(1);
    return b;
}
inline Bytes VorbisComment(const Bytes& body) {
    return WithMagic(std::string("\x03vorbis", 7), body, true);
}
inline Bytes TheoraComment(const Bytes& body) {
    return WithMagic(std::string("\x81theora", 7), body);
}
inline Bytes OpusTags(const Bytes& body) {
    return WithMagic("OpusTags", body);
}

// A FLAC metadata block: type (with the last-block flag), 24-bit big-endian length, body.
inline Bytes FlacBlock(uint8_t type, const Bytes& body, bool last = false, int64_t statedLength = -1) {
    const auto n = static_cast<uint32_t>(statedLength < 0 ? body.size() : statedLength);
    Bytes b{static_cast<uint8_t>(type | (last ? 0x80 : 0)), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

struct PictureSpec {
    uint32_t type = 3;
    std::string mime = "image/png";
    std::string description;
    uint32_t width = 32, height = 24, depth = 24, colors = 0;
    Bytes data;
};

// The FLAC picture structure (big-endian).
inline Bytes FlacPictureBody(const PictureSpec& p) {
    Bytes b;
    PutBE32(&b, p.type);
    PutBE32(&b, static_cast<uint32_t>(p.mime.size()));
    Put(&b, p.mime);
    PutBE32(&b, static_cast<uint32_t>(p.description.size()));
    Put(&b, p.description);
    for (uint32_t v : {p.width, p.height, p.depth, p.colors})
        PutBE32(&b, v);
    PutBE32(&b, static_cast<uint32_t>(p.data.size()));
    b.insert(b.end(), p.data.begin(), p.data.end());
    return b;
}

inline std::string Base64(const Bytes& in, bool pad = true) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const uint32_t v = in[i] << 16 | in[i + 1] << 8 | in[i + 2];
        for (int k = 18; k >= 0; k -= 6)
            out += abc[(v >> k) & 63];
    }
    if (in.size() - i == 1) {
        out += abc[in[i] >> 2];
        out += abc[(in[i] & 3) << 4];
        if (pad) out += "==";
    } else if (in.size() - i == 2) {
        const uint32_t v = in[i] << 8 | in[i + 1];
        out += abc[v >> 10];
        out += abc[(v >> 4) & 63];
        out += abc[(v & 15) << 2];
        if (pad) out += "=";
    }
    return out;
}

inline Bytes Pattern(size_t n, uint32_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

inline std::string Utf8(tags::TagText t) {
    std::string s(tags::Utf8Bytes(t) + 1, '\0');
    tags::ToUtf8(t, s.data());
    s.resize(s.size() - 1);
    return s;
}

inline std::u16string Utf16(tags::TagText t) {
    return std::u16string(t.text, t.length);
}

// Every value of a property, as UTF-8.
template <class Tags> std::vector<std::string> Values(const Tags& t, tags::TagProperty p) {
    std::vector<std::string> v;
    for (size_t i = 0; i < t.ValueCount(p); ++i)
        v.push_back(Utf8(t.Value(p, i)));
    return v;
}

// Every field as "KEY=value" in UTF-8.
inline std::vector<std::string> Fields(const tags::CStreamTags& s) {
    std::vector<std::string> v;
    for (size_t i = 0; i < s.FieldCount(); ++i)
        v.push_back(Utf8(s.FieldKey(i)) + "=" + Utf8(s.FieldValue(i)));
    return v;
}

// A stream record of its own, with a budget of its own.
struct LoneStream {
    tags::TagBudget budget;
    tags::CStreamTags stream{7, &budget};
};
} // namespace tagtest
