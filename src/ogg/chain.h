// Chained files: links one after the other (every stream of a link ends before the next link's streams
// begin), as `cat a.ogg b.ogg` and internet radio recordings make them. A media stream of the first link goes
// on in each later link through a stream of the same codec and major type; its times go on from the end of the
// link before.
#pragma once
#include "ogg_types.h"

class COggLogicalStream;

// One link of the file.
struct FileLink {
    LONGLONG begin = 0, end = 0; // its bytes
    LONGLONG start = 0;          // where it starts on the presentation's timeline
    LONGLONG duration = 0;
    LONGLONG first = 0;          // its origin: the earliest first packet time of its media streams (own time)
    int32_t firstRecord = 0;     // its streams among the source's link records (the first link: none there)
    int32_t records = 0;
    // Own time of this link to the first link's own timeline (what the first link's times are in).
    LONGLONG Shift(LONGLONG origin) const { return SatAdd(SatSub(start, first), origin); }
};

// What carries one media stream in one link: nothing (record null), or a stream of that link.
struct ChainLink {
    uint32_t serial = 0;
    COggLogicalStream* record = nullptr; // the stream of that link (the media stream itself in the first link)
};

constexpr int32_t kMaxLinks = 1024;      // links beyond are not played (a file of more is read as far as that)
constexpr int32_t kMaxLinkStreams = 32;  // streams one link may begin
