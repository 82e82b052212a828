#include "tag_keys.h"

namespace tags {
namespace {
struct Names {
    const char* first[4];
    const char* fallback[2];
};

const Names kNames[] = {
    {{"TITLE"}, {}},
    {{"ARTIST"}, {"AUTHOR"}},
    {{"ALBUM"}, {}},
    {{"ALBUMARTIST", "ALBUM ARTIST", "ALBUM_ARTIST"}, {}},
    {{"GENRE"}, {}},
    {{"COMPOSER"}, {}},
    {{"COMMENT"}, {"DESCRIPTION"}},
    {{"DATE"}, {}},
    {{"TRACKNUMBER"}, {}},
    {{"TRACKTOTAL", "TOTALTRACKS"}, {}},
    {{"LANGUAGE"}, {}},
};
static_assert(sizeof kNames / sizeof kNames[0] == static_cast<size_t>(TagProperty::Count));
} // namespace

bool IsMultiValued(TagProperty p) {
    return p == TagProperty::Artist || p == TagProperty::AlbumArtist || p == TagProperty::Genre ||
           p == TagProperty::Composer;
}

bool KeyNamesProperty(TagText key, TagProperty p, bool fallback) {
    const Names& names = kNames[static_cast<size_t>(p)];
    const char* const* list = fallback ? names.fallback : names.first;
    const size_t count = fallback ? 2 : 4;
    for (size_t i = 0; i < count && list[i]; ++i)
        if (EqualsAsciiNoCase(key, list[i])) return true;
    return false;
}

bool HasFallback(TagProperty p) {
    return kNames[static_cast<size_t>(p)].fallback[0] != nullptr;
}
} // namespace tags
