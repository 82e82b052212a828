// Theora: headers through libtheora's legacy interface, a VIDEOINFOHEADER2 block followed by the three
// headers, frame timing from granule positions (key frame number and frames since it).
#include <cstring>
#include <theora/theora.h>

#include "codec_kinds.h"
#include "ogg/media_types.h"

namespace {
constexpr uint32_t kMaxSampleBuffer = 64u << 20; // sample buffers are capped: a header may ask for anything

class CTheoraCodec final : public COggCodec {
public:
    CTheoraCodec() : COggCodec(CODEC_THEORA) {
        theora_info_init(&m_info);
        std::memset(&m_comment, 0, sizeof m_comment);
    }
    ~CTheoraCodec() override {
        theora_info_clear(&m_info);
        theora_comment_clear(&m_comment);
        for (SavedPacket& p : m_headers) FreePacket(&p);
    }

    bool Identify(const ogg_packet& p) {
        if (theora_decode_header(&m_info, &m_comment, const_cast<ogg_packet*>(&p)) < 0) return false;
        SavePacket(&m_headers[0], &p);
        return true;
    }

    HeaderStep TakeHeader(const ogg_packet& p) override {
        const BYTE b = p.packet[0];
        // A data packet before the setup header: without the setup there is no media type.
        if (!(b & 0x80)) return HeaderStep::GiveUp;
        if (b == 0x81) {
            theora_decode_header(&m_info, &m_comment, const_cast<ogg_packet*>(&p));
            SavePacket(&m_headers[1], &p);
        } else if (b == 0x82) {
            // No decoder is made: granules are timed from the headers' fields alone (a decoder would allocate
            // frame buffers of whatever size a crafted header states, gigabytes).
            if (!m_ready && theora_decode_header(&m_info, &m_comment, const_cast<ogg_packet*>(&p)) < 0)
                return HeaderStep::GiveUp;
            m_ready = true;
            SavePacket(&m_headers[2], &p);
            return HeaderStep::Done;
        }
        return HeaderStep::Taken;
    }

    bool MediaType(CAMMediaType* t) override {
        if (!m_ready) return false;
        t->Clear();
        t->Init();
        t->SetType(MEDIATYPE_Video);
        t->SetSubtype(GuidFromFourcc(FOURCC_KTHE));
        t->SetFormatType(FORMAT_VideoInfo2);
        t->SetTemporalCompression(TRUE);
        const uint32_t l0 = static_cast<uint32_t>(m_headers[0].bytes), l1 = static_cast<uint32_t>(m_headers[1].bytes),
                       l2 = static_cast<uint32_t>(m_headers[2].bytes);
        BYTE* block = t->AllocFormatBuffer(125 + l0 + l1 + l2);
        if (!block) return true; // no memory: the type stays without its block
        std::memset(block, 0, 112);
        WriteLE64(block + 40, static_cast<uint32_t>(FrameDuration()));
        LONG x = 0, y = 0;
        // The picture size: libtheora's legacy frame_width/frame_height (width/height are the coded size).
        CAMMediaType::ScaleToAspect(&x, &y, m_info.frame_width, m_info.frame_height,
                                    static_cast<LONG>(m_info.aspect_numerator), static_cast<LONG>(m_info.aspect_denominator));
        WriteLE32(block + 56, static_cast<uint32_t>(x));
        WriteLE32(block + 60, static_cast<uint32_t>(y));
        WriteLE32(block + 72, 53 + l0 + l1 + l2);
        WriteLE32(block + 76, m_info.frame_width);
        WriteLE32(block + 80, m_info.frame_height);
        WriteLE16(block + 84, 1);
        WriteLE16(block + 86, 24);
        WriteLE32(block + 88, FOURCC_KTHE);
        WriteLE32(block + 96, 1);
        WriteLE32(block + 100, 1);
        block[112] = 3;
        BYTE* at = block + 113;
        for (const SavedPacket& p : m_headers) {
            WriteLE32(at, static_cast<uint32_t>(p.bytes));
            if (p.bytes) std::memcpy(at + 4, p.data, static_cast<size_t>(p.bytes));
            at += 4 + p.bytes;
        }
        return true;
    }
    CodecLimits Limits() const override {
        CodecLimits l;
        const uint64_t size = 6ull * m_info.width * m_info.height;
        l.maxSampleSize = size > kMaxSampleBuffer ? kMaxSampleBuffer : static_cast<uint32_t>(size);
        return l;
    }

    bool IsHeaderPacket(const BYTE* data, long bytes) const override {
        return (data[0] & 0x80) || (bytes > 7 && data[0] == 3 && std::memcmp(data + 1, "vorbis", 6) == 0);
    }
    int64_t Units(const BYTE*, long) const override { return 1; }
    LONGLONG NextGranule(LONGLONG g, int64_t prevUnits, int64_t) const override {
        if (prevUnits == 0) return g == 0 ? FirstFrameGranule() : g;
        return AdvanceGranule(g, prevUnits);
    }
    LONGLONG PrevGranule(LONGLONG g, int64_t prevUnits, int64_t) const override { return AdvanceGranule(g, -prevUnits); }
    Time PacketTimes(LONGLONG g, int64_t, LONGLONG, LONGLONG* start, LONGLONG* end) const override {
        const LONGLONG f = FrameOfGranule(g);
        if (f < 0) return Time::Skip; // an untimed frame cannot be placed
        const LONGLONG d = static_cast<uint32_t>(FrameDuration()); // the low 32 bits, as in the format block
        *start = SatMul(d, f);
        *end = SatMul(d, SatAdd(f, 1));
        return Time::Timed;
    }
    LONGLONG GranuleTime(LONGLONG g) const override {
        if (!m_ready || m_info.fps_numerator == 0) return -1; // no frame duration: no time
        const LONGLONG f = FrameOfGranule(g);
        if (f < 0) return -1;
        // The end of the frame, in double as libtheora's theora_granule_time computes it.
        const double seconds = (static_cast<double>(f) + 1) * (static_cast<double>(m_info.fps_denominator) / m_info.fps_numerator);
        return SecondsToTime(seconds);
    }
    bool IsKeyFrame(const BYTE* data, long bytes, bool) const override {
        ogg_packet p{};
        p.packet = const_cast<BYTE*>(data);
        p.bytes = bytes;
        return theora_packet_iskeyframe(&p) == 1;
    }

    LONGLONG FrameDuration() const override {
        if (!m_info.fps_numerator) return 0;
        return static_cast<LONGLONG>(static_cast<uint64_t>(m_info.fps_denominator) * 10000000ull / m_info.fps_numerator);
    }
    bool GranuleNamesKeyFrame() const override { return true; }
    LONGLONG FrameOfGranule(LONGLONG g) const override {
        const int s = Shift();
        if (g < 0 || !m_ready || m_info.fps_numerator == 0 || s < 0) return -1;
        // The key frame's number plus the frames since it; streams of 3.2.1 and later count from 1.
        const LONGLONG key = g >> s, since = g - (key << s);
        return key + since - (CountsFromOne() ? 1 : 0);
    }
    LONGLONG KeyFrameOfGranule(LONGLONG g) const override {
        const int s = Shift();
        if (g < 0 || s < 0) return -1;
        return FrameOfGranule(g >> s << s);
    }

private:
    int Shift() const {
        const int s = theora_granule_shift(const_cast<theora_info*>(&m_info));
        return s >= 0 && s < 32 ? s : -1;
    }

    // Frame arithmetic on granule positions: the granule n frames on (n < 0: back), which stands for the frame
    // i + p + n. It names that frame as its own key frame (p = 0): only the frame it stands for is used. (Moving
    // whole units between the key frame part and the offset, as the granule rule of the headers' era did, made
    // the key frame part negative when working back over the first frames of a stream, which then had no time.)
    LONGLONG AdvanceGranule(LONGLONG g, LONGLONG n) const {
        const int s = Shift();
        if (g < 0 || s < 0) return -1;
        const LONGLONG sum = (g >> s) + (g & ((1LL << s) - 1)) + n;
        if (sum < 0 || sum > (MaxTime >> s)) return -1;
        return sum << s;
    }

    // The granule position of the first frame after the header packets. Streams of bitstream version 3.2.1
    // and later count key frames from 1 (the first frame is granule 1 << shift, frame 0); taking the headers'
    // granule 0 for it, as older streams do, made the first frame frame -1, so that the first key frame and
    // its whole group were dropped at the start of every play from the beginning.
    LONGLONG FirstFrameGranule() const {
        const int s = Shift();
        return CountsFromOne() && s >= 0 ? 1LL << s : 0;
    }
    bool CountsFromOne() const {
        const theora_info& ti = m_info;
        return ti.version_major > 3 ||
               (ti.version_major == 3 && (ti.version_minor > 2 || (ti.version_minor == 2 && ti.version_subminor >= 1)));
    }

    theora_info m_info;
    theora_comment m_comment;
    bool m_ready = false; // the setup header was read: granules can be timed
    SavedPacket m_headers[3];
};
} // namespace

COggCodec* MakeTheoraCodec(const ogg_packet& p, const CFourccMap*, bool* gaveUp) {
    if (!(p.packet[0] & 0x80) || (p.packet[0] & 7) != 0) return nullptr;
    auto* codec = new CTheoraCodec;
    if (!codec || !codec->Identify(p)) {
        delete codec;
        *gaveUp = true;
        return nullptr;
    }
    return codec;
}
