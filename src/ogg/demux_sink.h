// What the core hands up to whoever owns it: timed packets of a stream's run, the end of a stream, and the
// news that a stream that had run dry has data again. The core knows nothing else of its owner.
#pragma once
#include "ogg_types.h"
#include "support/am_media_type.h"

class COggLiveLink;

// One packet as a sample: payload, times on the presentation's timeline and flags.
struct OggSamplePacket {
    const BYTE* data = nullptr;
    DWORD length = 0;
    LONGLONG time = 0;
    LONGLONG duration = 0;
    int cleanPoint = -1;    // 1 or 0; -1: not stated (a header sent ahead of the data)
    int discontinuity = -1; // likewise
    // The type of the samples from here on, ahead of the first sample of a chained file's link (null
    // otherwise).
    const CAMMediaType* format = nullptr;
};

class IOggDemuxSink {
public:
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    // A packet of `stream` (its index among the core's streams) for run `run`, always taken. S_OK: go on;
    // S_FALSE: the stream's reserve is full (or the run is over) and production stops after the packet at
    // hand (the codec's headers ahead of a sample go with it); a failure ends production with it.
    virtual HRESULT DeliverPacket(int32_t stream, DWORD run, const OggSamplePacket& packet) = 0;
    // Production of the stream stops for now (what was delivered may be handed on together).
    virtual void EndOfBatch(int32_t stream, DWORD run) = 0;
    // The stream has no more packets in the run: its last packet, its stop time, or the end of the data
    // (cause S_OK), or a failure of the data (cause the read's error).
    virtual void EndOfStream(int32_t stream, DWORD run, HRESULT cause) = 0;
    // The stream ran dry and has something again: production should be asked to go on.
    virtual void DataReady(int32_t stream, DWORD run) = 0;
    // Whether the host takes the stream's samples: its reserve has room (production may take more pages), or
    // it is full but a request of the host's waits, or it is full and the host asks for none of it (Idle).
    // The reader makes only an idle stream read the file again for itself.
    enum class Consumer { Room, Asking, Idle };
    virtual Consumer ConsumerOf(int32_t stream) = 0;
    // Production of a stream enters another link of a chain (its first packet follows): `link` its number
    // (the first link of the file is 0), `live` its record when the bytes are read once (null in a file read
    // anywhere). Each stream that goes on in the link says so: the number tells them apart. The sink may keep
    // the record.
    virtual void LinkArrived(int32_t link, COggLiveLink* live) {
        (void)link;
        (void)live;
    }
    // A broadcast: the stream has had nothing for a while at `time`, when the others have pages.
    virtual void StreamIdle(int32_t stream, DWORD run, LONGLONG time) {
        (void)stream;
        (void)run;
        (void)time;
    }

protected:
    ~IOggDemuxSink() = default;
};
