// The codecs the table knows, each made from the first packet of a stream: the codec when the packet is its
// identification header, null when it is not (*gaveUp set when it is, but refused).
#pragma once
#include "codec.h"

COggCodec* MakeTheoraCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
COggCodec* MakeVorbisCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
COggCodec* MakeOgmCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
COggCodec* MakeOpusCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
COggCodec* MakeFlacCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
COggCodec* MakeSpeexCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
COggCodec* MakeNonMediaCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);

// The DirectShow-embedded first packet as an OGM stream header (heap copy); 0 on success.
int ConvertDirectShowHeader(const ogg_packet* packet, BYTE** header, size_t* size);
