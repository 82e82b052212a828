// Text as the tag model hands it out: UTF-16 views into a stream's storage, and their conversions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace tags {
// A view of UTF-16 text (no terminator). Valid while the record that gave it lives and takes no more packets.
struct TagText {
    const char16_t* text = nullptr;
    size_t length = 0;
    bool Empty() const { return length == 0; }
};

// UTF-8 as UTF-16 into out (room for outUnits units): each maximal ill-formed subpart of the input becomes
// one U+FFFD, as Unicode recommends; the text ends at the first U+0000. Stops before a character that does
// not fit (never half a surrogate pair). Returns the units written; *consumed: the input bytes they came
// from.
size_t Utf8ToUtf16(const uint8_t* in, size_t bytes, char16_t* out, size_t outUnits, size_t* consumed);

// The platform's wide text (UTF-16 on Windows, UTF-32 elsewhere): the WCHARs the text needs without the
// terminator, and the copy (out has room for WideUnits + 1; a terminator is written).
size_t WideUnits(TagText t);
void ToWide(TagText t, WCHAR* out);

// UTF-8 again: the bytes needed without a terminator, and the copy (out has room for Utf8Bytes + 1).
size_t Utf8Bytes(TagText t);
void ToUtf8(TagText t, char* out);

// Whether the text equals an ASCII name, letters compared without regard to case.
bool EqualsAsciiNoCase(TagText t, const char* name);
} // namespace tags
