// The table of codecs: each row recognises a stream by its first packet. Rows that match a signature come
// first; order matters where the older kinds share type bits (Kate before Theora, which takes any other 0x80
// identification; OGM and the DirectShow form before Vorbis, which takes any other 0x01).
#include <cstdlib>
#include <cstring>

#include "codec_kinds.h"
#include "support/alloc.h"

namespace {
typedef COggCodec* (*MakeCodecFn)(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
const MakeCodecFn kCodecs[] = {
    &MakeNonMediaCodec, &MakeOpusCodec, &MakeFlacCodec, &MakeSpeexCodec, &MakeTheoraCodec, &MakeOgmCodec, &MakeVorbisCodec,
};
} // namespace

COggCodec* IdentifyCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp) {
    *gaveUp = false;
    if (first.bytes < 1) return nullptr;
    for (MakeCodecFn make : kCodecs) {
        COggCodec* codec = make(first, settings, gaveUp);
        if (codec || *gaveUp) return codec;
    }
    return nullptr;
}

bool SavePacket(SavedPacket* slot, const ogg_packet* packet) {
    FreePacket(slot);
    slot->data = static_cast<BYTE*>(AllocBytes(packet->bytes > 0 ? static_cast<size_t>(packet->bytes) : 1));
    if (!slot->data) return false;
    if (packet->bytes > 0) std::memcpy(slot->data, packet->packet, static_cast<size_t>(packet->bytes));
    slot->bytes = static_cast<LONG>(packet->bytes);
    slot->bos = packet->b_o_s;
    slot->eos = packet->e_o_s;
    slot->granulepos = packet->granulepos;
    slot->packetno = packet->packetno;
    return true;
}

void FreePacket(SavedPacket* slot) {
    std::free(slot->data);
    *slot = SavedPacket{};
}
