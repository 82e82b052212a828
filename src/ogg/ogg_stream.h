// The record of one logical stream of the file's first link, in parts: the logical stream (codec, headers, media
// type), its read-ahead (the pages the reader queued for it), its packet clock (reassembly and timing) and its run
// (what the dispatch started). Production turns queued pages into timed packets for the core's owner. The record
// is no page queue itself and has no reader thread of its own (the file has one reader); its fields change only
// through the methods below.
#pragma once
#include <mutex>

#include "demux_sink.h"
#include "audio_resume.h"
#include "logical_stream.h"
#include "packet_clock.h"
#include "read_ahead.h"
#include "stream_run.h"

class IReaderWake {
public:
    virtual void Wake() = 0;

protected:
    ~IReaderWake() = default;
};

class COggStream : public CNoThrowAlloc {
public:
    COggStream(int32_t index, uint32_t serial, const CFourccMap* fourccs);
    COggStream(const COggStream&) = delete;
    COggStream& operator=(const COggStream&) = delete;

    int32_t Index() const { return m_index; }
    COggLogicalStream& Logical() { return m_logical; }
    const COggLogicalStream& Logical() const { return m_logical; }
    COggReadAhead& ReadAhead() { return m_readAhead; }
    // After the open: the stream's marks and the presentation's timeline (readOnce: bytes that cannot be read again,
    // whose links come as they are read).
    void Opened(const FileLink* links, LONGLONG origin, bool readOnce);

    // Transitions of its run (the dispatch, through the core).
    void BeginRun(DWORD run, LONGLONG stop);
    // Where a seek to `target` resumes the stream (MinTime: no seek): video at the key frame firstWanted, audio
    // with the packet that holds the target; pageTime, the time of the page read first.
    void Positioned(DWORD run, LONGLONG firstWanted, LONGLONG pageTime, LONGLONG target);
    void StopRun();
    void Select(bool selected);
    bool Selected();
    // Whether the stream takes pages for this run (selected, running, not ended).
    bool TakesPages(DWORD run);

    // Production: packets out to the sink until it is full, the stream runs dry or ends. Never waits for data.
    HRESULT Produce(DWORD run, IOggDemuxSink* sink, IReaderWake* reader);

private:
    HRESULT ProduceLocked(DWORD run, IOggDemuxSink* sink, IReaderWake* reader);
    // The next packet from the clock, fed from the read-ahead; false when there is none for now (*ended: and none
    // will come in this run, *cause: why).
    bool NextPacket(OggPacketInfo* packet, IReaderWake* reader, bool* ended, HRESULT* cause);
    bool Wanted(const OggPacketInfo& packet) const;
    HRESULT Deliver(DWORD run, IOggDemuxSink* sink, const OggPacketInfo& packet);

    const int32_t m_index;
    std::mutex m_lock; // the run and the clock: production and the transitions, never held over a read or a wait
    COggLogicalStream m_logical;
    COggReadAhead m_readAhead;
    COggPacketClock m_clock;
    COggStreamRun m_run;
    CAudioResume m_resume; // where audio resumes after a seek
    bool m_linkEntered = false; // production entered another link: its owner is told before its first packet
};
