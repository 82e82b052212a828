// The source's property store, handed out through MF_PROPERTY_HANDLER_SERVICE: the presentation's tags and
// format by property key, a snapshot taken when it is asked for. Read only: SetValue and Commit return
// STG_E_ACCESSDENIED.
#pragma once
#include "media_summary.h"
#include "ogg/tags/presentation_tags.h"

// tags may be null (no tag properties then).
HRESULT CreateSourcePropertyStore(const tags::CPresentationTags* tags, const MediaSummary& summary,
                                  REFIID riid, void** ppv);
