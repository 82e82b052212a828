// The tags of one presentation (one link of a chain): a record per stream, in the order the streams begin,
// and the presentation's properties merged from them.
//
// Merging: each property comes from the first stream (in that order) that has it; a multi-valued property
// takes all its values from that stream (ffmpeg writes the file's tags into every stream's header, so taking
// them from several would repeat them). The cover is the first front cover (picture type 3) of any stream,
// else the first picture that is not a file icon (types 1 and 2), else the first picture.
// A stream's language is its own LANGUAGE value, as written. Its name is its own TITLE when that differs from
// the presentation's title (a stream that only repeats the file's title has no name of its own).
//
// The core makes one per link: AddStream at each stream's beginning, then the stream's header packets go to
// the record it gave (stream_tags.h says how). Not thread-safe; read once the headers are in.
#pragma once
#include "stream_tags.h"

namespace tags {
class CPresentationTags : public CNoThrowAlloc {
public:
    CPresentationTags() = default;
    ~CPresentationTags();
    CPresentationTags(const CPresentationTags&) = delete;
    CPresentationTags& operator=(const CPresentationTags&) = delete;

    // A record for the stream; E_INVALIDARG for a serial number already added or beyond kMaxTagStreams
    // streams.
    HRESULT AddStream(uint32_t serial, CStreamTags** stream);
    size_t StreamCount() const { return m_streams.Count(); }
    CStreamTags* StreamAt(size_t i) const { return m_streams[i]; }
    CStreamTags* FindStream(uint32_t serial) const;

    size_t ValueCount(TagProperty p) const;
    TagText Value(TagProperty p, size_t index = 0) const;
    bool Year(uint32_t* year) const;
    bool TrackNumber(uint32_t* number) const;
    bool TrackTotal(uint32_t* total) const;
    bool Cover(TagPicture* cover) const;

    TagText StreamLanguage(size_t i) const { return m_streams[i]->Value(TagProperty::Language); }
    TagText StreamName(size_t i) const;

private:
    const CStreamTags* SourceOf(TagProperty p) const;

    TagBudget m_budget;
    CPodArray<CStreamTags*> m_streams;
};
} // namespace tags
