// The attributes hosts read from the descriptors the source hands out: on the presentation descriptor its
// MIME type, file size, audio bit rate and whether it varies, and the byte stream's last modification time;
// on each stream descriptor its language (the stream's LANGUAGE comment, as written) and its name.
#pragma once
#include "media_summary.h"
#include "ogg/tags/presentation_tags.h"

// tags: the presentation's (may be null: no stream attribute then); stream: the byte stream (may be null).
HRESULT SetDescriptorAttributes(IMFPresentationDescriptor* pd, const MediaSummary& summary,
                                const tags::CPresentationTags* tags, IMFByteStream* stream);
// A stream descriptor's language and name from the stream's tags (S_FALSE: the stream has none).
HRESULT SetStreamTagAttributes(IMFStreamDescriptor* sd, const tags::CPresentationTags& tags);
