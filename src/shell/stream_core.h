// The core over a stream the shell hands a handler (IInitializeWithStream): the file read as the source's
// open reads it (discovery, the headers, the first and last times), with no run, no MFStartup and no work
// queue. The property handler and the thumbnail provider read files this one way.
#pragma once
#include "ogg/ogg_demuxer.h"
#include "platform/platform.h"

// The opened core (*core, to be closed with CloseStreamCore), or the open's error
// (MF_E_CANNOT_PARSE_BYTESTREAM for bytes that are not Ogg, ...).
HRESULT OpenStreamCore(IStream* stream, COggDemuxer** core);
void CloseStreamCore(COggDemuxer* core);

// The tags of the link that plays at the start, as the source's store tells them before a start: the first
// link's, unless a chain's first links last no time (then the first that plays; null when the open did not
// reach its headers).
const tags::CPresentationTags* StartTags(const COggDemuxer& core);
