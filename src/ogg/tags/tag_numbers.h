// Numbers read from the start of comment values: the year of a DATE, the track number and count.
#pragma once
#include "tag_text.h"

namespace tags {
// The decimal number at t[from] (one digit at least, no sign, no space), when it fits in 32 bits; *end: the
// index after its digits.
bool LeadingNumber(TagText t, size_t from, uint32_t* value, size_t* end);
// The year: the value's first four characters, when they are digits ("2021-05-01" is 2021).
bool YearOf(TagText date, uint32_t* year);
// The track number: the value's leading number ("03/12" is 3).
bool TrackOf(TagText track, uint32_t* number);
// The count a track number carries after its '/' ("03/12": 12).
bool TrackCountOf(TagText track, uint32_t* count);
} // namespace tags
