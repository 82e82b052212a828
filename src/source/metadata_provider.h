// The source's metadata provider (MF_METADATA_PROVIDER_SERVICE): IMFMetadata by name for the presentation and
// for each stream, a snapshot of the tags when the provider is made.
//   The presentation (stream identifier 0): "Title", "Author", "WM/AlbumTitle", "WM/AlbumArtist", "WM/Genre",
//   "WM/Composer", "WM/TrackNumber" (VT_UI4), "WM/Year" (text), "Description", "WM/Picture" (an
//   ASF_FLAT_PICTURE blob). A multi-valued tag is VT_VECTOR | VT_LPWSTR when it has more than one value.
//   A stream (its identifier, the stream descriptor's): "Language" (its LANGUAGE comment) and "Title" (its
//   name).
// Identifier 0 always names the presentation: a stream whose serial number is 0 has no metadata of its own
// here; its language and name are on its stream descriptor (MF_SD_LANGUAGE, MF_SD_STREAM_NAME).
#pragma once
#include "ogg/tags/presentation_tags.h"
#include "platform/platform.h"

// tags may be null (every metadata is empty then).
HRESULT CreateMetadataProvider(const tags::CPresentationTags* tags, IMFPresentationDescriptor* pd,
                               REFIID riid, void** ppv);
// The cover as ASF_FLAT_PICTURE: its type (a byte), the image's length (32 bits, little-endian), the MIME
// type and the description in UTF-16LE each with a terminator, the image.
HRESULT FlatPicture(const tags::TagPicture& picture, PROPVARIANT* value);
