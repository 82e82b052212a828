// The properties the model maps comments to, and the comment names each is read from.
#pragma once
#include "tag_text.h"

namespace tags {
enum class TagProperty {
    Title,       // TITLE
    Artist,      // ARTIST; a stream without one: AUTHOR (speexenc writes it)
    Album,       // ALBUM
    AlbumArtist, // ALBUMARTIST, "ALBUM ARTIST" or ALBUM_ARTIST
    Genre,       // GENRE
    Composer,    // COMPOSER
    Comment,     // COMMENT; a stream without one: DESCRIPTION (ffmpeg writes it)
    Date,        // DATE (the year is its leading four digits)
    TrackNumber, // TRACKNUMBER ("03/12": track 3 of 12)
    TrackTotal,  // TRACKTOTAL or TOTALTRACKS
    Language,    // LANGUAGE, as written
    Count
};

// Artist, album artist, genre and composer take every value in file order; the others their first.
bool IsMultiValued(TagProperty p);

// Whether a comment's key is one of the property's names; fallback: the names read when a stream has none of
// the first ones.
bool KeyNamesProperty(TagText key, TagProperty p, bool fallback);
bool HasFallback(TagProperty p);

// The key of a picture in the comments (a base64 FLAC picture structure).
constexpr const char* kPictureKey = "METADATA_BLOCK_PICTURE";
} // namespace tags
