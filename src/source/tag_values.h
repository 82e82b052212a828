// Tag text and values in the forms hosts are handed: wide strings from CoTaskMemAlloc, PROPVARIANTs (one
// string, or every value of a multi-valued property), attribute strings.
#pragma once
#include "ogg/tags/presentation_tags.h"
#include "platform/platform.h"

// The text as a wide string in a CoTaskMemAlloc block (the caller frees it).
HRESULT TagToCoTaskWide(tags::TagText text, LPWSTR* out);
// VT_LPWSTR.
HRESULT TagToPropVariant(tags::TagText text, PROPVARIANT* value);
// The property's values: VT_LPWSTR for one, VT_VECTOR | VT_LPWSTR for several; S_FALSE (VT_EMPTY) for none.
HRESULT TagValuesToPropVariant(const tags::CPresentationTags& tags, tags::TagProperty property, bool asVector,
                               PROPVARIANT* value);
// A string attribute; S_FALSE (nothing set) for empty text.
HRESULT SetTagAttribute(IMFAttributes* attributes, REFGUID key, tags::TagText text);
// The index of the stream with this serial number among the tags' streams; -1 when it has no record.
int32_t TagStreamIndex(const tags::CPresentationTags& tags, uint32_t serial);
