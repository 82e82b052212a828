// A stream's comment header: its layouts, its fields and the properties they name.
#include "stream_tags.h"

#include <cstring>
#include <strings.h>

#include "tag_numbers.h"

namespace tags {
namespace {
// The magic ahead of the comments in each layout; Speex's comment packet has none.
bool MagicOf(CommentLayout layout, const BYTE* p, size_t n, size_t* skip) {
    switch (layout) {
    case CommentLayout::Vorbis:
    case CommentLayout::Ogm: // OGM writers put a Vorbis comment header in the stream
        *skip = 7;
        return n >= 7 && p[0] == 0x03 && std::memcmp(p + 1, "vorbis", 6) == 0;
    case CommentLayout::Theora:
        *skip = 7;
        return n >= 7 && p[0] == 0x81 && std::memcmp(p + 1, "theora", 6) == 0;
    case CommentLayout::Opus:
        *skip = 8;
        return n >= 8 && std::memcmp(p, "OpusTags", 8) == 0;
    case CommentLayout::Speex: // no magic; its identification header is no comment header
        *skip = 0;
        return !(n >= 8 && std::memcmp(p, "Speex   ", 8) == 0);
    }
    return false;
}

constexpr BYTE kFlacVorbisComment = 4, kFlacPicture = 6;
} // namespace

// The budget is the presentation's for its whole life: what a stream took is not given back.
CStreamTags::~CStreamTags() {
    for (size_t i = 0; i < m_pictures.Count(); ++i)
        std::free(m_pictures[i].storage);
}

HRESULT CStreamTags::TakeCommentPacket(CommentLayout layout, const BYTE* packet, size_t bytes) {
    if (!packet && bytes) return E_POINTER;
    size_t skip = 0;
    if (bytes == 0 || !MagicOf(layout, packet, bytes, &skip) || m_hasComments) return S_FALSE;
    return TakeComments(packet + skip, bytes - skip);
}

// A metadata block: type in the low seven bits of its first byte, a 24-bit big-endian length, the body.
HRESULT CStreamTags::TakeFlacMetadataBlock(const BYTE* block, size_t bytes) {
    if (!block && bytes) return E_POINTER;
    if (bytes < 4) return S_FALSE;
    const BYTE type = block[0] & 0x7F;
    if (type != kFlacVorbisComment && type != kFlacPicture) return S_FALSE;
    const size_t stated = static_cast<size_t>(block[1]) << 16 | static_cast<size_t>(block[2]) << 8 | block[3];
    const bool cut = stated > bytes - 4; // the rest of the block is not in the packet: read what is
    const size_t body = cut ? bytes - 4 : stated;
    HRESULT hr = S_OK;
    if (type == kFlacPicture) {
        hr = AddFlacPicture(block + 4, body);
    } else {
        if (m_hasComments) return S_FALSE;
        hr = TakeComments(block + 4, body);
    }
    return SUCCEEDED(hr) && cut ? MF_E_INVALID_FILE_FORMAT : hr;
}

HRESULT CStreamTags::TakeComments(const uint8_t* data, size_t size) {
    m_hasComments = true;
    m_headerUnits = 0;
    m_textClosed = false;
    return WalkComments(data, size, this);
}

HRESULT CStreamTags::OnVendor(const uint8_t* text, size_t length) {
    bool fits = false;
    HRESULT hr = AddText(text, length, kMaxValueUnits, true, &m_vendor, &fits);
    if (SUCCEEDED(hr) && !fits) m_textClosed = true;
    return hr;
}

HRESULT CStreamTags::OnComment(const uint8_t* text, size_t length) {
    const void* equals = length ? std::memchr(text, '=', length) : nullptr;
    if (!equals || equals == text) { // no '=', or an empty key: no field
        ++m_leftOut;
        return S_OK;
    }
    const size_t keyLength = static_cast<size_t>(static_cast<const uint8_t*>(equals) - text);
    const uint8_t* value = text + keyLength + 1;
    const size_t valueLength = length - keyLength - 1;
    if (keyLength > kMaxKeyBytes) {
        ++m_leftOut;
        return S_OK;
    }
    if (keyLength == std::strlen(kPictureKey) &&
        strncasecmp(reinterpret_cast<const char*>(text), kPictureKey, keyLength) == 0)
        return AddBase64Picture(value, valueLength);
    return AddField(text, keyLength, value, valueLength);
}

HRESULT CStreamTags::AddField(const uint8_t* key, size_t keyLength, const uint8_t* value,
                              size_t valueLength) {
    if (m_textClosed || m_fields.Count() >= kMaxHeaderFields) {
        ++m_leftOut;
        return S_OK;
    }
    const size_t mark = m_text.Count();
    Field field;
    bool fits = false;
    HRESULT hr = AddText(key, keyLength, kMaxKeyBytes, true, &field.key, &fits);
    const bool named = field.key.length > 0; // a key that starts with U+0000 is empty too
    if (SUCCEEDED(hr) && fits && named)
        hr = AddText(value, valueLength, kMaxValueUnits, true, &field.value, &fits);
    if (SUCCEEDED(hr) && fits && named) hr = m_fields.Append(field);
    if (FAILED(hr) || !fits || !named) { // the key goes with its value
        m_budget->textUnits += m_text.Count() - mark;
        m_headerUnits -= m_text.Count() - mark;
        m_text.Truncate(mark);
        ++m_leftOut;
        if (!fits) m_textClosed = true;
    }
    return hr;
}

HRESULT CStreamTags::AddText(const uint8_t* utf8, size_t bytes, size_t maxUnits, bool budgeted, Span* span,
                             bool* fits) {
    *fits = true;
    // A byte of UTF-8 never makes more than one UTF-16 unit (four bytes make two), so this is room enough.
    const size_t room = bytes < maxUnits ? bytes : maxUnits;
    HRESULT hr = m_text.Reserve(m_text.Count() + room);
    if (FAILED(hr)) return hr;
    size_t used = 0;
    const size_t units = Utf8ToUtf16(utf8, bytes, m_text.Data() + m_text.Count(), room, &used);
    if (budgeted && (units > kMaxHeaderTextUnits - m_headerUnits || units > m_budget->textUnits)) {
        *fits = false;
        return S_OK;
    }
    if (budgeted) { // picture MIME types and descriptions have limits of their own
        m_headerUnits += units;
        m_budget->textUnits -= units;
    }
    span->offset = m_text.Count();
    span->length = units;
    m_text.Grow(units);
    return S_OK;
}

bool CStreamTags::Names(size_t field, TagProperty p, bool fallback) const {
    return m_fields[field].value.length > 0 && KeyNamesProperty(FieldKey(field), p, fallback);
}

bool CStreamTags::UsesFallback(TagProperty p) const {
    if (!HasFallback(p)) return false;
    for (size_t i = 0; i < m_fields.Count(); ++i)
        if (Names(i, p, false)) return false;
    return true;
}

size_t CStreamTags::ValueCount(TagProperty p) const {
    const bool fallback = UsesFallback(p);
    size_t n = 0;
    for (size_t i = 0; i < m_fields.Count(); ++i)
        n += Names(i, p, fallback);
    return IsMultiValued(p) || n == 0 ? n : 1;
}

TagText CStreamTags::Value(TagProperty p, size_t index) const {
    const bool fallback = UsesFallback(p);
    if (!IsMultiValued(p) && index > 0) return TagText{};
    for (size_t i = 0; i < m_fields.Count(); ++i)
        if (Names(i, p, fallback) && index-- == 0) return FieldValue(i);
    return TagText{};
}

bool CStreamTags::Year(uint32_t* year) const {
    return ValueCount(TagProperty::Date) > 0 && YearOf(Value(TagProperty::Date), year);
}

bool CStreamTags::TrackNumber(uint32_t* number) const {
    return ValueCount(TagProperty::TrackNumber) > 0 && TrackOf(Value(TagProperty::TrackNumber), number);
}

bool CStreamTags::TrackTotal(uint32_t* total) const {
    if (ValueCount(TagProperty::TrackNumber) > 0 && TrackCountOf(Value(TagProperty::TrackNumber), total))
        return true;
    size_t end = 0;
    return ValueCount(TagProperty::TrackTotal) > 0 &&
           LeadingNumber(Value(TagProperty::TrackTotal), 0, total, &end);
}
} // namespace tags
