// A host for a broadcast: one thread polls the source and its streams for events (GetEvent without waiting),
// keeps a few sample requests outstanding per stream and counts what arrives. It keeps no sample, so its own
// memory stays flat whatever the source does. Its GetEvent and RequestSample calls can be timed.
#pragma once
#include <chrono>
#include <map>
#include <vector>

#include "bench_common.h"

namespace bench {

struct LiveCounts {
    uint64_t samples = 0, sampleBytes = 0;
    uint64_t metadata = 0; // MESourceMetadataChanged: the source announcing a link of the chain
    // Links crossed as the samples show them: a Vorbis identification header among the first stream's samples
    // after the one that began the run (a link's headers are sent again ahead of its first sample).
    uint64_t linksCrossed = 0;
    uint64_t ticks = 0;   // MEStreamTick
    uint64_t formats = 0; // MEStreamFormatChanged
    uint64_t errors = 0;  // MEError, from the source or a stream
    uint64_t ends = 0;    // MEEndOfStream
    HRESULT firstError = S_OK;
    uint64_t bufferingStarted = 0, bufferingStopped = 0; // the byte stream's, as the source passes them on
};

class LiveHost {
public:
    // stream: the byte stream the source reads. When it buffers (a network stream), the source passes its
    // MEBufferingStarted and MEBufferingStopped on: they say when a read waits for the network.
    LiveHost(IMFMediaSource* source, IMFByteStream* stream);
    HRESULT Start(); // the default selection, from the current position (VT_EMPTY)
    void Pump();     // handles every event queued now
    // Pumps until the source sends this event (true) or the limit passes (false).
    bool PumpUntil(MediaEventType type, std::chrono::milliseconds limit);
    void TimeCalls(CallTimes* times) { m_times = times; } // nullptr: no timing
    const LiveCounts& Counts() const { return m_counts; }
    // The longest wait between two samples since the last call, in ms (0 when fewer than two came).
    double TakeLongestGapMs();
    // From Start to the first sample, in ms (-1 before it).
    double FirstSampleMs() const { return m_firstSampleMs; }
    bool BufferingEvents() const { return m_buffers; }
    bool ReadWaits() const { return m_counts.bufferingStarted > m_counts.bufferingStopped; }
    uint64_t BytesRead() const;

private:
    struct Stream {
        PlatRef<IMFMediaStream> stream;
        int outstanding = 0;
        bool ended = false;
        uint64_t idHeaders = 0; // Vorbis identification headers among its samples
    };
    HRESULT NextEvent(IMFMediaEventGenerator* generator, const char* call, IMFMediaEvent** event);
    void HandleSource(IMFMediaEvent* event, MediaEventType type);
    void HandleStream(Stream* s, IMFMediaEvent* event, MediaEventType type);
    void NoteSample(Stream* s, IMFMediaEvent* event);
    void NoteError(HRESULT status);
    void TopUp(Stream* s);

    PlatRef<IMFMediaSource> m_source;
    PlatRef<IMFByteStream> m_stream;
    bool m_buffers = false;
    std::vector<Stream> m_streams;
    LiveCounts m_counts;
    std::map<MediaEventType, uint64_t> m_sourceEvents; // how many of each type came
    CallTimes* m_times = nullptr;
    Clock::time_point m_started{}, m_lastSample{};
    double m_firstSampleMs = -1;
    double m_longestGapMs = 0;
};
} // namespace bench
