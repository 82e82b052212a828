// Time arithmetic on values a file can set at will: sums, differences and products held at the ends of the
// 64-bit range instead of overflowing, and g * num / den computed exactly (the product may need 128 bits).
// Written in standard C++ alone, so that every compiler and every target (32-bit ones have no 128-bit type)
// computes the same results. The compiler's own checked arithmetic, where it has it, is kept below as the
// exact reference the tests compare these functions with; the module does not use it.
#pragma once
#include <cstdint>

namespace wide_math {
constexpr int64_t kMax = INT64_MAX;
constexpr int64_t kMin = INT64_MIN;

// |v| as an unsigned value (the most negative value included).
inline uint64_t Magnitude(int64_t v) {
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

// A 128-bit unsigned value as two halves.
struct U128 {
    uint64_t high = 0, low = 0;
};

// a * b, exact.
inline U128 Multiply(uint64_t a, uint64_t b) {
    const uint64_t aLow = a & 0xFFFFFFFFu, aHigh = a >> 32, bLow = b & 0xFFFFFFFFu, bHigh = b >> 32;
    const uint64_t ll = aLow * bLow, lh = aLow * bHigh, hl = aHigh * bLow, hh = aHigh * bHigh;
    const uint64_t middle = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu); // at most 3 * (2^32 - 1)
    U128 r;
    r.low = (middle << 32) | (ll & 0xFFFFFFFFu);
    r.high = hh + (lh >> 32) + (hl >> 32) + (middle >> 32);
    return r;
}

// n / d and n % d for 0 < d < 2^63, by long division one bit at a time (only products beyond 64 bits come
// here).
inline U128 Divide(U128 n, uint64_t d, uint64_t* remainder) {
    U128 q;
    uint64_t r = 0;
    for (int i = 127; i >= 0; --i) {
        const uint64_t bit = i >= 64 ? (n.high >> (i - 64)) & 1 : (n.low >> i) & 1;
        r = (r << 1) | bit; // r < d < 2^63 before the shift: no bit is lost
        if (r >= d) {
            r -= d;
            if (i >= 64)
                q.high |= uint64_t{1} << (i - 64);
            else
                q.low |= uint64_t{1} << i;
        }
    }
    *remainder = r;
    return q;
}
} // namespace wide_math

// a + b, held at the ends of the 64-bit range instead of overflowing (times from files can be anything).
inline int64_t SatAdd(int64_t a, int64_t b) {
    if (b > 0 && a > wide_math::kMax - b) return wide_math::kMax;
    if (b < 0 && a < wide_math::kMin - b) return wide_math::kMin;
    return a + b;
}

// a - b, held likewise (b may be the most negative value, which has no negation).
inline int64_t SatSub(int64_t a, int64_t b) {
    if (b < 0 && a > wide_math::kMax + b) return wide_math::kMax;
    if (b > 0 && a < wide_math::kMin + b) return wide_math::kMin;
    return a - b;
}

// a * b, held at the ends of the 64-bit range instead of overflowing.
inline int64_t SatMul(int64_t a, int64_t b) {
    if (a == 0 || b == 0) return 0;
    const bool negative = (a < 0) != (b < 0);
    const uint64_t ua = wide_math::Magnitude(a), ub = wide_math::Magnitude(b);
    const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(wide_math::kMax);
    if (ua > limit / ub) return negative ? wide_math::kMin : wide_math::kMax;
    const uint64_t p = ua * ub;
    if (!negative) return static_cast<int64_t>(p);
    return p == limit ? wide_math::kMin : -static_cast<int64_t>(p);
}

// g * num / den, the quotient cut toward zero and then one more when the remainder exceeds half the divisor
// (so a positive value rounds to nearest, a remainder of exactly half down, and a negative one toward zero),
// computed exactly and held in range; -1 (no time) when den is not positive.
inline int64_t ScaleGranule(int64_t g, int64_t num, int64_t den) {
    if (den <= 0) return -1; // a zero rate or samples-per-unit: untimed
    const bool negative = (g < 0) != (num < 0);
    const uint64_t ug = wide_math::Magnitude(g), un = wide_math::Magnitude(num),
                   ud = static_cast<uint64_t>(den);
    const wide_math::U128 p = wide_math::Multiply(ug, un);
    uint64_t r = 0;
    wide_math::U128 q = p.high == 0 ? wide_math::U128{0, p.low / ud} : wide_math::Divide(p, ud, &r);
    if (p.high == 0) r = p.low % ud;
    if (!negative && r > (ud >> 1)) { // only a non-negative remainder can exceed half the divisor
        if (++q.low == 0) ++q.high;
    }
    if (!negative)
        return q.high != 0 || q.low > static_cast<uint64_t>(wide_math::kMax) ? wide_math::kMax
                                                                             : static_cast<int64_t>(q.low);
    if (q.high != 0 || q.low >= (uint64_t{1} << 63))
        return wide_math::kMin; // held at the bottom of the range
    return -static_cast<int64_t>(q.low);
}

#if defined(__SIZEOF_INT128__)
// The exact reference: the compiler's checked arithmetic and its 128-bit type, for the tests to compare with.
namespace wide_math_reference {
__extension__ typedef __int128 Int128;

inline int64_t SatAdd(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}
inline int64_t SatSub(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? INT64_MAX : INT64_MIN;
    return r;
}
inline int64_t SatMul(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
    return r;
}
inline int64_t ScaleGranule(int64_t g, int64_t num, int64_t den) {
    if (den <= 0) return -1;
    const Int128 p = static_cast<Int128>(g) * num;
    Int128 q = p / den, r = p % den;
    if (r > (den >> 1)) ++q;
    if (q > INT64_MAX) return INT64_MAX;
    if (q < INT64_MIN) return INT64_MIN;
    return static_cast<int64_t>(q);
}
} // namespace wide_math_reference
#endif
