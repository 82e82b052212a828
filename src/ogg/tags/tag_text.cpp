#include "tag_text.h"

namespace tags {
namespace {
constexpr uint32_t kReplacement = 0xFFFD;

// One character from the start of the input, or U+FFFD for the maximal ill-formed subpart there (Unicode's
// table of well-formed byte sequences: the second byte's range depends on the first).
uint32_t DecodeOne(const uint8_t* in, size_t bytes, size_t* length) {
    const uint8_t b = in[0];
    *length = 1;
    if (b < 0x80) return b;
    size_t n = 0;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F; // nothing past U+10FFFF
    } else {
        return kReplacement; // a continuation byte, C0, C1 or F5..FF
    }
    uint32_t cp = b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        if (k >= bytes) {
            *length = k;
            return kReplacement; // cut short by the end of the input
        }
        const uint8_t c = in[k];
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
            *length = k;
            return kReplacement;
        }
        cp = cp << 6 | (c & 0x3F);
    }
    *length = n;
    return cp;
}

// The code point at t[i] (a lone surrogate counts as U+FFFD); *units: 1 or 2.
uint32_t CodePointAt(TagText t, size_t i, size_t* units) {
    const char16_t u = t.text[i];
    *units = 1;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < t.length && t.text[i + 1] >= 0xDC00 &&
        t.text[i + 1] <= 0xDFFF) {
        *units = 2;
        return 0x10000 + ((static_cast<uint32_t>(u) - 0xD800) << 10) + (t.text[i + 1] - 0xDC00u);
    }
    return u >= 0xD800 && u <= 0xDFFF ? kReplacement : u;
}
} // namespace

size_t Utf8ToUtf16(const uint8_t* in, size_t bytes, char16_t* out, size_t outUnits, size_t* consumed) {
    size_t i = 0, o = 0;
    while (i < bytes && in[i] != 0) {
        size_t length = 0;
        const uint32_t cp = DecodeOne(in + i, bytes - i, &length);
        if (cp >= 0x10000) {
            if (outUnits - o < 2) break;
            out[o++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out[o++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            if (outUnits - o < 1) break;
            out[o++] = static_cast<char16_t>(cp);
        }
        i += length;
    }
    *consumed = i;
    return o;
}

size_t WideUnits(TagText t) {
    if (sizeof(WCHAR) == 2) return t.length;
    size_t n = 0;
    for (size_t i = 0, units = 0; i < t.length; i += units, ++n)
        CodePointAt(t, i, &units);
    return n;
}

void ToWide(TagText t, WCHAR* out) {
    size_t o = 0;
    for (size_t i = 0, units = 0; i < t.length; i += units) {
        if (sizeof(WCHAR) == 2) {
            units = 1;
            out[o++] = static_cast<WCHAR>(t.text[i]);
        } else {
            out[o++] = static_cast<WCHAR>(CodePointAt(t, i, &units));
        }
    }
    out[o] = 0;
}

size_t Utf8Bytes(TagText t) {
    size_t n = 0;
    for (size_t i = 0, units = 0; i < t.length; i += units) {
        const uint32_t cp = CodePointAt(t, i, &units);
        n += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    }
    return n;
}

void ToUtf8(TagText t, char* out) {
    auto put = [&out](uint32_t byte) { *out++ = static_cast<char>(byte); };
    for (size_t i = 0, units = 0; i < t.length; i += units) {
        const uint32_t cp = CodePointAt(t, i, &units);
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | cp >> 6);
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | cp >> 12);
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | cp >> 18);
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }
    *out = 0;
}

bool EqualsAsciiNoCase(TagText t, const char* name) {
    size_t i = 0;
    for (; name[i]; ++i) {
        if (i >= t.length) return false;
        char16_t a = t.text[i], b = static_cast<unsigned char>(name[i]);
        if (a >= 'a' && a <= 'z') a = static_cast<char16_t>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<char16_t>(b - 32);
        if (a != b) return false;
    }
    return i == t.length;
}
} // namespace tags
