// What the property store tells of a file beyond its tags, read from the core without a media source: the
// core's media streams described as the source describes them, and summarized by the source's own rules.
#pragma once
#include "ogg/ogg_demuxer.h"
#include "source/media_summary.h"

HRESULT SummarizeCore(const COggDemuxer& core, MediaSummary* out);
