// What the demultiplexing core needs of a media stream: somewhere to put samples and to say that no more
// will come. The media source's streams implement it; the core knows nothing else of them.
#pragma once
#include "platform/platform.h"
#include "support/am_media_type.h"

struct IOggSampleSink {
    virtual HRESULT DeliverSample(IMFSample* sample) = 0;
    virtual HRESULT MarkEndOfStream() = 0;
    // The media type of the samples that follow (a chained file's link); when it differs from the type announced
    // last, the next sample announces it.
    virtual HRESULT NoteFormat(const CAMMediaType& type) = 0;
    // Active, not ended, and the reserve of samples waiting not full; evaluated under the source lock.
    virtual bool WantsMoreSamples() = 0;
    virtual bool IsActive() = 0;
    // Enters and leaves the stream's lock once, to wait out a holder.
    virtual void WaitOutLock() = 0;

protected:
    ~IOggSampleSink() = default;
};
