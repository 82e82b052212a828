// The tags of one logical stream, from its comment header (and FLAC's PICTURE blocks): every field as written
// (key and value in UTF-16), the properties they name, and the pictures. Plain C++ over bytes: the core hands
// the stream's header packets in as it reads them; the source's services read the record afterwards.
//
// Entry points, per stream, in stream order:
//   - TakeCommentPacket(layout, packet, bytes): a header packet of a stream whose codec has a comment header
//     (Vorbis "\x03vorbis", Theora "\x81theora", OGM's "\x03vorbis" packet, "OpusTags", Speex's second
//     packet). Any header packet may be handed in: one that is not the layout's comment header is passed over
//     (S_FALSE). Speex's comment packet has no magic: hand in the stream's second packet only (its
//     identification header is recognised and passed over, its extra headers could not be told from
//     comments).
//   - TakeFlacMetadataBlock(block, bytes): each header packet of an Ogg FLAC stream after the first (each is
//   one
//     metadata block, with its 4-byte block header): VORBIS_COMMENT and PICTURE are read, others passed over.
// A stream's first comment header counts; a later one is passed over (S_FALSE). Results: S_OK (taken, with
// the limits of tag_limits.h applied), S_FALSE (passed over), MF_E_INVALID_FILE_FORMAT (a stated length
// reaches past the packet: what came before it is kept), E_OUTOFMEMORY (what came before is kept). None of
// them is a reason to refuse the stream.
//
// Not thread-safe: headers are taken on one thread, and the record is read once they are all in. The text
// views it hands out stay valid until it takes another packet or ends.
#pragma once
#include "comment_walker.h"
#include "flac_picture.h"
#include "pod_array.h"
#include "tag_keys.h"
#include "tag_limits.h"

namespace tags {
// What the tags of one presentation may still hold, shared by its streams.
struct TagBudget {
    size_t textUnits = kMaxPresentationTextUnits;
    size_t pictureBytes = kMaxPresentationPictureBytes;
};

struct TagPicture {
    uint32_t type = 0; // FLAC's picture types: 3 the front cover, 1 and 2 file icons, 0 other
    TagText mime, description;
    uint32_t width = 0, height = 0, depth = 0, colors = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

enum class CommentLayout { Vorbis, Theora, Ogm, Opus, Speex };

class CStreamTags final : public CNoThrowAlloc, private ICommentSink {
public:
    CStreamTags(uint32_t serial, TagBudget* budget) : m_serial(serial), m_budget(budget) {}
    ~CStreamTags();
    CStreamTags(const CStreamTags&) = delete;
    CStreamTags& operator=(const CStreamTags&) = delete;

    HRESULT TakeCommentPacket(CommentLayout layout, const BYTE* packet, size_t bytes);
    HRESULT TakeFlacMetadataBlock(const BYTE* block, size_t bytes);

    uint32_t Serial() const { return m_serial; }
    bool HasComments() const { return m_hasComments; }
    TagText Vendor() const { return Text(m_vendor); }
    // Every field kept, in file order (pictures are not among them).
    size_t FieldCount() const { return m_fields.Count(); }
    TagText FieldKey(size_t i) const { return Text(m_fields[i].key); }
    TagText FieldValue(size_t i) const { return Text(m_fields[i].value); }

    // A property's non-empty values in file order (one at most for a single-valued property); none: 0.
    size_t ValueCount(TagProperty p) const;
    TagText Value(TagProperty p, size_t index = 0) const;
    bool Year(uint32_t* year) const;
    bool TrackNumber(uint32_t* number) const;
    // From TRACKNUMBER's "/count", else from TRACKTOTAL or TOTALTRACKS.
    bool TrackTotal(uint32_t* total) const;

    size_t PictureCount() const { return m_pictures.Count(); }
    TagPicture Picture(size_t i) const;
    // Fields and pictures left out: malformed (no '=', an empty key, not base64, ...) or beyond a limit.
    size_t LeftOut() const { return m_leftOut; }

private:
    struct Span {
        size_t offset = 0, length = 0; // into m_text
    };
    struct Field {
        Span key, value;
    };
    struct PictureRecord {
        uint32_t type, width, height, depth, colors;
        Span mime, description;
        uint8_t* storage; // owned: the image, or the whole decoded picture structure
        size_t dataOffset, dataLength, charged;
    };

    HRESULT OnVendor(const uint8_t* text, size_t length) override;
    HRESULT OnComment(const uint8_t* text, size_t length) override;
    HRESULT TakeComments(const uint8_t* data, size_t size);
    HRESULT AddField(const uint8_t* key, size_t keyLength, const uint8_t* value, size_t valueLength);
    // Decodes UTF-8 onto the end of m_text, at most maxUnits; *fits false when the header's or the
    // presentation's text would run over (nothing is added then) unless `budgeted` is false.
    HRESULT AddText(const uint8_t* utf8, size_t bytes, size_t maxUnits, bool budgeted, Span* span,
                    bool* fits);
    HRESULT AddBase64Picture(const uint8_t* text, size_t length);
    HRESULT AddFlacPicture(const uint8_t* body, size_t size);
    // Keeps a parsed picture whose storage is `storage` (taken over on success).
    HRESULT KeepPicture(const FlacPictureFields& f, uint8_t* storage, size_t dataOffset, size_t charged);
    bool Names(size_t field, TagProperty p, bool fallback) const;
    bool UsesFallback(TagProperty p) const;
    TagText Text(Span s) const { return TagText{m_text.Data() + s.offset, s.length}; }

    const uint32_t m_serial;
    TagBudget* m_budget;
    bool m_hasComments = false;
    Span m_vendor;
    CPodArray<char16_t> m_text;
    CPodArray<Field> m_fields;
    CPodArray<PictureRecord> m_pictures;
    size_t m_leftOut = 0;
    // The comment header being read.
    size_t m_headerUnits = 0;
    bool m_textClosed = false;
};
} // namespace tags
