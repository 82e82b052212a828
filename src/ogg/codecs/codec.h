// One codec's knowledge, behind one interface that the core calls: how its first packet is recognised,
// its header packets, its media type, and the timing and key frames of its packets. Adding a codec means a
// file of its own and a row in the table (codec_table.cpp).
#pragma once
#include <ogg/ogg.h>

#include "ogg/ogg_types.h"
#include "support/alloc.h"
#include "support/am_media_type.h"

class CFourccMap;

// A header packet kept by a codec: sent ahead of the data (Vorbis) or built into the format block.
struct SavedPacket {
    BYTE* data = nullptr;
    LONG bytes = 0;
    LONG bos = 0, eos = 0;
    LONGLONG granulepos = 0;
    LONGLONG packetno = 0;
};
bool SavePacket(SavedPacket* slot, const ogg_packet* packet);
void FreePacket(SavedPacket* slot);

// What the codec tells the stream record about a header packet.
enum class HeaderStep {
    Taken,       // a header (or a packet the codec passes over while its headers come)
    Done,        // a header, and the last one: the stream's headers are complete
    Data,        // not a header: the headers are over and this is the first data packet
    GiveUp,      // the codec refuses the stream: it has no media type
};

// Where the stream's data must go and how much may be queued ahead: per codec.
struct CodecLimits {
    uint32_t maxSampleSize = 8192;
    int32_t queueHigh = 32;
    int32_t queueLow = 16;
};

class COggCodec : public CNoThrowAlloc {
public:
    virtual ~COggCodec() = default;
    int32_t Kind() const { return m_kind; }

    // Headers, in stream order; the identification header was the packet that made the codec.
    virtual HeaderStep TakeHeader(const ogg_packet& packet) = 0;
    // A packet that comes after the headers were complete, still read during discovery (a late comment).
    virtual void TakeLateHeader(const ogg_packet&) {}
    // Fills the media type once the codec knows it; false while it does not (discovery reads on).
    virtual bool MediaType(CAMMediaType* type) = 0;
    virtual CodecLimits Limits() const { return CodecLimits{}; }
    // The first comment of that name (the comment header's vorbis_comment form), or null.
    virtual const char* Comment(const char*) { return nullptr; }
    // Whether the stream is a media stream at all (a Skeleton or a Kate stream is not).
    virtual bool IsMedia() const { return true; }
    // The OGM stream type ("video", "audio", "text", "directx") of the OGM family; null for other codecs.
    virtual const char* OgmType() const { return nullptr; }

    // Packets after the headers.
    virtual bool IsHeaderPacket(const BYTE* data, long bytes) const = 0;
    // Length of a packet in the codec's own steps of granule arithmetic (Vorbis: half its block size; OGM: its
    // duration in time units; Theora: one frame). Computed from the packet's bytes alone.
    virtual int64_t Units(const BYTE* data, long bytes) const = 0;
    // The granule of the packet that follows one of granule g and `prevUnits` steps (prevUnits 0: g is the
    // headers' reference), when the packet itself has `units` steps; and back again.
    virtual LONGLONG NextGranule(LONGLONG g, int64_t prevUnits, int64_t units) const = 0;
    virtual LONGLONG PrevGranule(LONGLONG g, int64_t prevUnits, int64_t units) const = 0;
    // A packet the codec cannot read (its length bytes are cut, say): passed over, and not counted.
    virtual bool Accepts(const BYTE*, long) const { return true; }
    // A packet's start and end (100-ns units, in the stream's own timeline) from its granule; prev: the granule
    // of the packet before it when it follows one, else -1 (where a granule marks a packet's end, the start is
    // the previous end: the last packet of a stream may be trimmed short of its length).
    enum class Time { Timed, Untimed, Skip }; // Untimed: delivered without a time; Skip: passed over
    virtual Time PacketTimes(LONGLONG g, int64_t units, LONGLONG prev, LONGLONG* start, LONGLONG* end) const = 0;
    // The time a page's granule position stands for (what the end scan, the search and the read-ahead use);
    // -1 when it has none.
    virtual LONGLONG GranuleTime(LONGLONG g) const = 0;
    // Whether the packet can be decoded on its own; granuleKnown: the packet has a granule, given or derived.
    virtual bool IsKeyFrame(const BYTE* data, long bytes, bool granuleKnown) const = 0;
    // The part of the packet that goes into the sample.
    virtual void Payload(const BYTE** data, long* bytes) const { (void)data, (void)bytes; }
    // Header packets sent as samples ahead of the first sample of every run.
    virtual const SavedPacket* HeaderSamples(int* count) const {
        *count = 0;
        return nullptr;
    }
    // A one-byte sample at time 0 ahead of every run (OGM text).
    virtual bool WantsStartSample() const { return false; }

    // Seeking.
    // How far before the target a seek starts (100-ns units): what the decoder needs to converge (Opus).
    virtual LONGLONG SeekPreroll() const { return 0; }
    // Whether decoding a packet needs the packet before it (Vorbis: the first half of its window overlaps it), so
    // that a seek resumes one packet before the one that holds the target.
    virtual bool NeedsPacketBefore() const { return false; }
    // Video: 100-ns units of one frame; 0 for anything else.
    virtual LONGLONG FrameDuration() const { return 0; }
    // Whether the codec's granules name the key frame of the frame they stand for (Theora).
    virtual bool GranuleNamesKeyFrame() const { return false; }
    // The frame index of the key frame a granule names, for codecs whose granule carries it; -1 otherwise.
    virtual LONGLONG KeyFrameOfGranule(LONGLONG) const { return -1; }
    // The frame index a granule stands for (key frame codecs), -1 when none.
    virtual LONGLONG FrameOfGranule(LONGLONG) const { return -1; }

protected:
    explicit COggCodec(int32_t kind) : m_kind(kind) {}
    const int32_t m_kind;
};

// Makes the codec that recognises the stream's first packet; null when none does (an unknown stream).
// *gaveUp: a codec recognised the packet but refused it (its identification header is bad).
COggCodec* IdentifyCodec(const ogg_packet& first, const CFourccMap* settings, bool* gaveUp);
