// The tag model directly: the input is cut into records (a kind byte, a 16-bit length, that many bytes), each
// a comment packet of some layout, a FLAC metadata block or the start of another stream; then every getter is
// read and the model's promises checked (limits held, text that goes to UTF-8 and back unchanged).
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ogg/tags/presentation_tags.h"

namespace {
void Failed(int line) {
    std::fprintf(stderr, "fuzz_tags: the check at line %d failed\n", line);
    std::abort();
}
#define Check(ok)                                                                                                   \
    do {                                                                                                            \
        if (!(ok)) Failed(__LINE__);                                                                                \
    } while (0)

void CheckText(tags::TagText t, size_t limit) {
    Check(t.length <= limit);
    std::vector<char> utf8(tags::Utf8Bytes(t) + 1);
    tags::ToUtf8(t, utf8.data());
    std::vector<char16_t> back(utf8.size());
    size_t used = 0;
    const size_t n = tags::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size() - 1,
                                       back.data(), back.size(), &used);
    Check(n == t.length && std::equal(back.begin(), back.begin() + static_cast<long>(n), t.text));
    std::vector<WCHAR> wide(tags::WideUnits(t) + 1);
    tags::ToWide(t, wide.data());
    Check(wide.back() == 0);
}

void ReadEverything(const tags::CPresentationTags& p) {
    for (int k = 0; k < static_cast<int>(tags::TagProperty::Count); ++k) {
        const auto prop = static_cast<tags::TagProperty>(k);
        for (size_t i = 0; i < p.ValueCount(prop); ++i)
            CheckText(p.Value(prop, i), tags::kMaxValueUnits);
        Check(tags::IsMultiValued(prop) || p.ValueCount(prop) <= 1);
    }
    uint32_t n = 0;
    p.Year(&n);
    p.TrackNumber(&n);
    p.TrackTotal(&n);
    tags::TagPicture cover;
    if (p.Cover(&cover)) Check(cover.size <= tags::kMaxPictureBytes);
    for (size_t s = 0; s < p.StreamCount(); ++s) {
        const tags::CStreamTags& st = *p.StreamAt(s);
        CheckText(st.Vendor(), tags::kMaxValueUnits);
        Check(st.FieldCount() <= tags::kMaxHeaderFields);
        for (size_t i = 0; i < st.FieldCount(); ++i) {
            CheckText(st.FieldKey(i), tags::kMaxKeyBytes);
            CheckText(st.FieldValue(i), tags::kMaxValueUnits);
            Check(st.FieldKey(i).length > 0);
        }
        Check(st.PictureCount() <= tags::kMaxStreamPictures);
        for (size_t i = 0; i < st.PictureCount(); ++i) {
            const tags::TagPicture pic = st.Picture(i);
            Check(pic.size <= tags::kMaxPictureBytes);
            CheckText(pic.mime, tags::kMaxMimeBytes);
            CheckText(pic.description, tags::kMaxDescriptionUnits);
        }
        CheckText(p.StreamName(s), tags::kMaxValueUnits);
        CheckText(p.StreamLanguage(s), tags::kMaxValueUnits);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tags::CPresentationTags presentation;
    tags::CStreamTags* stream = nullptr;
    uint32_t serial = 0;
    presentation.AddStream(serial++, &stream);
    size_t at = 0;
    while (at + 3 <= size && stream) {
        const uint8_t kind = data[at] % 7;
        size_t length = data[at + 1] | data[at + 2] << 8;
        at += 3;
        if (length > size - at) length = size - at;
        const uint8_t* record = data + at;
        at += length;
        if (kind == 5) {
            stream->TakeFlacMetadataBlock(record, length);
        } else if (kind == 6) {
            tags::CStreamTags* next = nullptr;
            if (SUCCEEDED(presentation.AddStream(serial++, &next))) stream = next;
        } else {
            stream->TakeCommentPacket(static_cast<tags::CommentLayout>(kind), record, length);
        }
    }
    ReadEverything(presentation);
    return 0;
}
