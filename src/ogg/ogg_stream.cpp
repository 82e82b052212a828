// The stream record: construction, destruction, header parsing and the granule-to-time rule.
#include "ogg_stream.h"

#include <cstdlib>
#include <cstring>

#include "media_types.h"
#include "ogm_header.h"
#include "source_core.h"

namespace {
const char kDirectShowText[] = "Direct Show Samples embedded in Ogg"; // 35 characters
constexpr uint32_t kMaxSampleBuffer = 64u << 20; // sample buffers are capped: a header may ask for anything
constexpr uint32_t kFormatVideoInfo = 0x05589F80, kFormatWaveFormatEx = 0x05589F81;
} // namespace

COggStream::COggStream(uint32_t serial, COggSourceCore* source)
    : m_pSource(source), m_reader(this), m_serialNo(serial) {
    ogg_stream_init(&m_oggStream, static_cast<int>(serial));
    vorbis_info_init(&m_vorbisInfo);
    vorbis_comment_init(&m_vorbisComment);
    theora_info_init(&m_theoraInfo);
    std::memset(&m_theoraComment, 0, sizeof m_theoraComment);
    std::memset(&m_theoraState, 0, sizeof m_theoraState);
}

COggStream::~COggStream() {
    ogg_stream_clear(&m_oggStream);
    vorbis_info_clear(&m_vorbisInfo);
    vorbis_comment_clear(&m_vorbisComment);
    if (m_theoraReady) theora_clear(&m_theoraState); // the decoder goes before the info it was made from
    theora_info_clear(&m_theoraInfo);
    theora_comment_clear(&m_theoraComment);
    std::free(m_pOgmHeader);
    for (SavedPacket& p : m_vorbisHeaders) std::free(p.data);
    for (SavedPacket& p : m_theoraHeaders) std::free(p.data);
}

bool COggStream::SavePacket(SavedPacket* slot, const ogg_packet* packet) {
    std::free(slot->data);
    *slot = SavedPacket{};
    slot->data = static_cast<BYTE*>(std::malloc(packet->bytes > 0 ? static_cast<size_t>(packet->bytes) : 1));
    if (!slot->data) return false;
    if (packet->bytes > 0) std::memcpy(slot->data, packet->packet, static_cast<size_t>(packet->bytes));
    slot->bytes = static_cast<LONG>(packet->bytes);
    slot->bos = packet->b_o_s;
    slot->eos = packet->e_o_s;
    slot->granulepos = packet->granulepos;
    slot->packetno = packet->packetno;
    return true;
}

uint32_t COggStream::ParseHeaderPage(ogg_page* page) {
    if (m_headerFlags == 0) return 0;
    ogg_stream_pagein(&m_oggStream, page);
    while (m_headerFlags != 0) {
        ogg_packet packet;
        int r = ogg_stream_packetout(&m_oggStream, &packet);
        if (r == -1) continue; // a gap: take the next packet
        if (r == 0) return 0;
        if (packet.bytes < 1) continue; // an empty packet has no type byte to go by: passed over
        bool gaveUp = false;
        ParsePacket(&packet, &gaveUp);
        if (gaveUp) return 1;
    }
    return 0;
}

void COggStream::ParsePacket(ogg_packet* packet, bool* gaveUp) {
    const BYTE b = packet->packet[0];
    const bool theora = m_codec == CODEC_THEORA || (m_codec == CODEC_UNKNOWN && (b & 0x80));
    if (!(m_headerFlags & HEADERS_PENDING)) {
        if ((b & 7) == 3 && vorbis_synthesis_headerin(&m_vorbisInfo, &m_vorbisComment, packet) == 0)
            SavePacket(&m_vorbisHeaders[1], packet);
        StartTimeStep(packet);
        return;
    }
    if (theora) {
        ParseTheoraPacket(packet, gaveUp);
        return;
    }
    if (!(b & 1)) { // a data packet: the headers are over
        m_headerFlags &= ~HEADERS_PENDING;
        StartTimeStep(packet);
        return;
    }
    switch (b & 7) {
    case 1: ParseIdentification(packet, gaveUp); break;
    case 3:
        vorbis_synthesis_headerin(&m_vorbisInfo, &m_vorbisComment, packet);
        SavePacket(&m_vorbisHeaders[1], packet);
        break;
    case 5:
        if (m_codec == CODEC_VORBIS) {
            vorbis_synthesis_headerin(&m_vorbisInfo, &m_vorbisComment, packet);
            SavePacket(&m_vorbisHeaders[2], packet);
            m_headerFlags &= ~HEADERS_PENDING;
        }
        break;
    default: break;
    }
}

void COggStream::ParseIdentification(ogg_packet* packet, bool* gaveUp) {
    const BYTE* p = packet->packet;
    const long n = packet->bytes;
    BYTE* header = nullptr;
    size_t size = 0;
    std::free(m_pOgmHeader);
    m_pOgmHeader = nullptr;
    m_cbOgmHeader = 0;
    bool ogm = false;
    if (n >= 36 && std::memcmp(p + 1, kDirectShowText, 35) == 0) {
        ogm = ConvertDirectShowHeader(packet, &header, &size) == 0;
    } else if ((n >= 6 && (std::memcmp(p + 1, "video", 5) == 0 || std::memcmp(p + 1, "audio", 5) == 0)) ||
               (n >= 5 && std::memcmp(p + 1, "text", 4) == 0) || (n >= 8 && std::memcmp(p + 1, "directx", 7) == 0)) {
        // A header shorter than its fixed fields, or whose size field is below them or beyond the packet,
        // is not an OGM header we can use: the stream is given up.
        int32_t declared = n >= 17 ? static_cast<int32_t>(ReadLE32(p + 13)) : 0;
        if (n < 1 + static_cast<long>(ogm::kMinSize) || declared < static_cast<int32_t>(ogm::kMinSize) ||
            declared > n - 1) {
            GiveUp();
            *gaveUp = true;
            return;
        }
        size = static_cast<size_t>(declared);
        header = static_cast<BYTE*>(std::malloc(size));
        if (!header) {
            GiveUp(); // no memory for the header copy: the stream cannot be described
            *gaveUp = true;
            return;
        }
        std::memcpy(header, p + 1, size);
        ogm = true;
    }
    if (ogm) {
        m_pOgmHeader = header;
        m_cbOgmHeader = size;
        if (!BuildOgmMediaType(m_pSource, header, size, &m_mediaType, &m_queueHigh, &m_queueLow)) {
            GiveUp();
            *gaveUp = true;
            return;
        }
        int32_t buffer = ogm::BufferSize(header);
        m_maxSampleSize = buffer <= 0 ? 0 : static_cast<uint32_t>(buffer) > kMaxSampleBuffer ? kMaxSampleBuffer
                                                                                            : static_cast<uint32_t>(buffer);
        m_vorbisInfo.rate = 1;
        m_codec = CODEC_OGM;
        return;
    }
    if (vorbis_synthesis_headerin(&m_vorbisInfo, &m_vorbisComment, packet) != 0) {
        GiveUp();
        *gaveUp = true;
        return;
    }
    SavePacket(&m_vorbisHeaders[0], packet);
    BuildVorbisMediaType(this);
    m_maxSampleSize = 8192;
    m_queueHigh = 32;
    m_queueLow = 16;
    m_codec = CODEC_VORBIS;
}

void COggStream::ParseTheoraPacket(ogg_packet* packet, bool* gaveUp) {
    switch (packet->packet[0] & 7) {
    case 0:
        if (theora_decode_header(&m_theoraInfo, &m_theoraComment, packet) < 0) {
            GiveUp();
            *gaveUp = true;
            return;
        }
        SavePacket(&m_theoraHeaders[0], packet);
        m_queueHigh = 32;
        m_queueLow = 16;
        m_vorbisInfo.rate = 1;
        m_codec = CODEC_THEORA;
        break;
    case 1:
        if (m_codec != CODEC_THEORA) break;
        theora_decode_header(&m_theoraInfo, &m_theoraComment, packet);
        SavePacket(&m_theoraHeaders[1], packet);
        break;
    case 2: {
        if (m_codec != CODEC_THEORA) break;
        theora_decode_header(&m_theoraInfo, &m_theoraComment, packet);
        // Without a decoder state no granule can be timed; a setup header it refuses gives the stream up.
        if (!m_theoraReady && theora_decode_init(&m_theoraState, &m_theoraInfo) != 0) {
            std::memset(&m_theoraState, 0, sizeof m_theoraState);
            GiveUp();
            *gaveUp = true;
            return;
        }
        m_theoraReady = true;
        SavePacket(&m_theoraHeaders[2], packet);
        BuildTheoraMediaType(this);
        m_headerFlags &= ~HEADERS_PENDING;
        uint64_t size = 6ull * m_theoraInfo.width * m_theoraInfo.height;
        m_maxSampleSize = size > kMaxSampleBuffer ? kMaxSampleBuffer : static_cast<uint32_t>(size);
        break;
    }
    case 3:
        if (vorbis_synthesis_headerin(&m_vorbisInfo, &m_vorbisComment, packet) == 0)
            SavePacket(&m_vorbisHeaders[1], packet);
        break;
    default: break;
    }
}

void COggStream::GiveUp() {
    m_mediaType.SetType(GUID_NULL);
    m_codec = CODEC_UNKNOWN;
    m_headerFlags = 0;
}

void COggStream::StartTimeStep(const ogg_packet* packet) {
    if (packet->granulepos != -1 && (m_headerFlags & START_TIME_PENDING)) {
        m_startTime = GranuleToTime(packet->granulepos);
        m_headerFlags &= ~START_TIME_PENDING;
    }
}

LONGLONG COggStream::GranuleToTime(LONGLONG g) const {
    switch (m_codec) {
    case CODEC_VORBIS: return ScaleGranule(g, 10000000, m_vorbisInfo.rate);
    case CODEC_OGM:
        // Samples per unit of 0 would divide by zero: such a stream's packets have no time.
        return ScaleGranule(g, ogm::TimeUnit(m_pOgmHeader), ogm::SamplesPerUnit(m_pOgmHeader));
    case CODEC_THEORA: {
        if (!m_theoraReady || m_theoraInfo.fps_numerator == 0) return -1; // no frame duration: no time
        double seconds = theora_granule_time(const_cast<theora_state*>(&m_theoraState), g);
        return static_cast<LONGLONG>(seconds * 1e7 + 0.5);
    }
    default: return -1;
    }
}

bool COggStream::IsOgmType(const char* type) const {
    return m_codec == CODEC_OGM && m_pOgmHeader && ogm::TypeIs(m_pOgmHeader, type);
}

LONGLONG COggStream::FrameDuration() const {
    if (!IsEqualGUID(m_mediaType.majortype, MEDIATYPE_Video)) return 0;
    if (m_codec == CODEC_THEORA) {
        if (!m_theoraInfo.fps_numerator) return 0;
        return static_cast<LONGLONG>(static_cast<uint64_t>(m_theoraInfo.fps_denominator) * 10000000ull /
                                     m_theoraInfo.fps_numerator);
    }
    if (IsOgmType("video")) return ogm::TimeUnit(m_pOgmHeader);
    if (IsOgmType("directx")) {
        const CAMMediaType& t = m_mediaType;
        if ((IsEqualGUID(t.formattype, FORMAT_VideoInfo) && t.cbFormat >= 88) ||
            (IsEqualGUID(t.formattype, FORMAT_VideoInfo2) && t.cbFormat >= 112))
            return ReadLE64(t.pbFormat + 40);
    }
    return 0;
}

int COggStream::ConvertDirectShowHeader(const ogg_packet* packet, BYTE** out, size_t* outSize) {
    *out = nullptr;
    *outSize = 0;
    const BYTE* p = packet->packet;
    const long n = packet->bytes;
    // Fields are read at fixed offsets: a packet too short for them is refused, never read past its end.
    if (n < 124 || (p[0] & 7) != 1) return 1;
    const uint32_t format = ReadLE32(p + 96);
    if (format == kFormatVideoInfo) {
        if (n < 188) return 1;
        BYTE* h = static_cast<BYTE*>(std::calloc(1, 120));
        if (!h) return 1;
        std::memcpy(h + ogm::kType, "video", 5);
        std::memcpy(h + ogm::kSubtype, p + 68, 4);
        WriteLE32(h + ogm::kSize, 52);
        std::memcpy(h + ogm::kTimeUnit, p + 164, 8);
        WriteLE64(h + ogm::kSamplesPerUnit, 1);
        WriteLE32(h + ogm::kDefaultLength, 1);
        std::memcpy(h + ogm::kBufferSize, p + 40, 4);
        std::memcpy(h + ogm::kBitsPerSample, p + 186, 2);
        std::memcpy(h + ogm::kWidth, p + 176, 4);
        std::memcpy(h + ogm::kHeight, p + 180, 4);
        *out = h;
        *outSize = 120;
        return 0;
    }
    if (format == kFormatWaveFormatEx) {
        if (n < 142) return 1;
        const uint32_t extra = ReadLE16(p + 140);
        if (n < 142 + static_cast<long>(extra)) return 1;
        BYTE* h = static_cast<BYTE*>(std::calloc(1, 120 + extra));
        if (!h) return 1;
        char tag[8];
        std::snprintf(tag, sizeof tag, "%04x", ReadLE16(p + 124));
        std::memcpy(h + ogm::kType, "audio", 5);
        std::memcpy(h + ogm::kSubtype, tag, 4);
        WriteLE32(h + ogm::kSize, 52 + extra);
        WriteLE64(h + ogm::kTimeUnit, 10000000);
        WriteLE64(h + ogm::kSamplesPerUnit, ReadLE32(p + 128));
        WriteLE32(h + ogm::kDefaultLength, 1);
        std::memcpy(h + ogm::kBufferSize, p + 40, 4);
        std::memcpy(h + ogm::kBitsPerSample, p + 138, 2);
        std::memcpy(h + ogm::kChannels, p + 126, 2);
        std::memcpy(h + ogm::kBlockAlign, p + 136, 2);
        std::memcpy(h + ogm::kAvgBytesPerSec, p + 132, 4);
        if (extra) std::memcpy(h + ogm::kExtra, p + 142, extra);
        *out = h;
        *outSize = 120 + extra;
        return 0;
    }
    return 1;
}
