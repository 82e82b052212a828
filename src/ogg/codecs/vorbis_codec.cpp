// Vorbis: headers through libvorbis, the 24-byte Vorbis format block, block-size timing, all packets key.
#include <cstring>
#include <vorbis/codec.h>

#include "codec_kinds.h"
#include "ogg/media_types.h"

namespace {
class CVorbisCodec final : public COggCodec {
public:
    CVorbisCodec() : COggCodec(CODEC_VORBIS) {
        vorbis_info_init(&m_info);
        vorbis_comment_init(&m_comment);
    }
    ~CVorbisCodec() override {
        vorbis_info_clear(&m_info);
        vorbis_comment_clear(&m_comment);
        for (SavedPacket& p : m_headers) FreePacket(&p);
    }

    bool Identify(const ogg_packet& p) {
        if (vorbis_synthesis_headerin(&m_info, &m_comment, const_cast<ogg_packet*>(&p)) != 0) return false;
        SavePacket(&m_headers[0], &p);
        return true;
    }

    HeaderStep TakeHeader(const ogg_packet& p) override {
        const BYTE b = p.packet[0];
        if (!(b & 1)) return HeaderStep::Data;
        if ((b & 7) == 3) {
            vorbis_synthesis_headerin(&m_info, &m_comment, const_cast<ogg_packet*>(&p)); // errors not checked
            SavePacket(&m_headers[1], &p);
        } else if ((b & 7) == 5) {
            vorbis_synthesis_headerin(&m_info, &m_comment, const_cast<ogg_packet*>(&p));
            SavePacket(&m_headers[2], &p);
            return HeaderStep::Done;
        }
        return HeaderStep::Taken;
    }
    void TakeLateHeader(const ogg_packet& p) override {
        if ((p.packet[0] & 7) == 3 && vorbis_synthesis_headerin(&m_info, &m_comment, const_cast<ogg_packet*>(&p)) == 0)
            SavePacket(&m_headers[1], &p);
    }

    bool MediaType(CAMMediaType* t) override {
        t->Clear();
        t->Init();
        t->SetType(MEDIATYPE_Audio);
        t->SetSubtype(MEDIASUBTYPE_OggVorbis);
        t->SetFormatType(FORMAT_OggVorbis);
        BYTE* block = t->AllocFormatBuffer(24);
        if (!block) return true; // no memory: the type stays without its block
        std::memset(block, 0, 24);
        WriteLE16(block, static_cast<uint32_t>(m_info.channels));
        WriteLE32(block + 4, static_cast<uint32_t>(m_info.rate));
        WriteLE32(block + 8, static_cast<uint32_t>(m_info.bitrate_lower));
        WriteLE32(block + 12, static_cast<uint32_t>(m_info.bitrate_nominal));
        WriteLE32(block + 16, static_cast<uint32_t>(m_info.bitrate_upper));
        return true;
    }
    const char* Comment(const char* tag) override {
        return vorbis_comment_query(&m_comment, tag, 0);
    }

    bool IsHeaderPacket(const BYTE* data, long) const override { return data[0] & 1; }
    int64_t Units(const BYTE* data, long bytes) const override {
        ogg_packet p{};
        p.packet = const_cast<BYTE*>(data);
        p.bytes = bytes;
        long blocksize = vorbis_packet_blocksize(const_cast<vorbis_info*>(&m_info), &p);
        return blocksize > 0 ? blocksize >> 1 : 0;
    }
    // A packet's granule is the end of its audio: the previous granule plus half of each block's half.
    LONGLONG NextGranule(LONGLONG g, int64_t prevUnits, int64_t units) const override {
        if (prevUnits == 0) return g; // the first packet after the headers decodes to nothing
        return SatAdd(g, static_cast<int32_t>(prevUnits + units) >> 1);
    }
    LONGLONG PrevGranule(LONGLONG g, int64_t prevUnits, int64_t units) const override {
        return SatAdd(g, -(static_cast<int32_t>(prevUnits + units) >> 1));
    }
    Time PacketTimes(LONGLONG g, int64_t, LONGLONG, LONGLONG* start, LONGLONG* end) const override {
        *start = *end = ScaleGranule(g, 10000000, m_info.rate); // duration 0: the time is the packet's end
        return Time::Timed;
    }
    LONGLONG GranuleTime(LONGLONG g) const override { return ScaleGranule(g, 10000000, m_info.rate); }
    bool IsKeyFrame(const BYTE*, long, bool) const override { return true; }
    bool NeedsPacketBefore() const override { return true; }
    const SavedPacket* HeaderSamples(int* count) const override {
        *count = 3;
        return m_headers;
    }

private:
    vorbis_info m_info;
    vorbis_comment m_comment;
    SavedPacket m_headers[3];
};
} // namespace

// A packet whose type bits say identification header and that no other codec claimed is offered to
// libvorbis; its refusal gives the stream up.
COggCodec* MakeVorbisCodec(const ogg_packet& p, const CFourccMap*, bool* gaveUp) {
    if ((p.packet[0] & 7) != 1 || p.packet[0] & 0x80) return nullptr;
    auto* codec = new CVorbisCodec;
    if (!codec || !codec->Identify(p)) {
        delete codec;
        *gaveUp = true;
        return nullptr;
    }
    return codec;
}
