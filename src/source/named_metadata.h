// IMFMetadata over a fixed set of named values (a snapshot): what the source's metadata provider hands out
// for the presentation or one stream. Read only: SetProperty and DeleteProperty return STG_E_ACCESSDENIED.
// The tags of an Ogg file have no language of their own: every language a host sets reads the same values.
#pragma once
#include "platform/platform.h"
#include "support/alloc.h"

class CNamedMetadata;

// Collects the values, then makes the object.
class CNamedMetadataBuilder : public CNoThrowAlloc {
public:
    CNamedMetadataBuilder() = default;
    ~CNamedMetadataBuilder();
    CNamedMetadataBuilder(const CNamedMetadataBuilder&) = delete;
    CNamedMetadataBuilder& operator=(const CNamedMetadataBuilder&) = delete;

    // Takes the value over (it is left VT_EMPTY); S_FALSE and nothing kept for a VT_EMPTY value. `name` is a
    // static ASCII name.
    HRESULT Add(const char* name, PROPVARIANT* value);
    HRESULT Create(IMFMetadata** out);

private:
    friend class CNamedMetadata;
    struct Entry {
        const char* name;
        PROPVARIANT value;
    };
    Entry* m_entries = nullptr;
    size_t m_count = 0;
};
