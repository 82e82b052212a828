#include "tag_numbers.h"

namespace tags {
bool LeadingNumber(TagText t, size_t from, uint32_t* value, size_t* end) {
    uint64_t v = 0;
    size_t i = from;
    for (; i < t.length && t.text[i] >= '0' && t.text[i] <= '9'; ++i) {
        v = v * 10 + (t.text[i] - '0');
        if (v > UINT32_MAX) return false; // no track or year has ten digits
    }
    if (i == from) return false;
    *value = static_cast<uint32_t>(v);
    *end = i;
    return true;
}

bool YearOf(TagText date, uint32_t* year) {
    if (date.length < 4) return false;
    TagText four{date.text, 4};
    size_t end = 0;
    return LeadingNumber(four, 0, year, &end) && end == 4;
}

bool TrackOf(TagText track, uint32_t* number) {
    size_t end = 0;
    return LeadingNumber(track, 0, number, &end);
}

bool TrackCountOf(TagText track, uint32_t* count) {
    uint32_t number = 0;
    size_t end = 0;
    if (!LeadingNumber(track, 0, &number, &end) || end >= track.length || track.text[end] != '/')
        return false;
    return LeadingNumber(track, end + 1, count, &end);
}
} // namespace tags
