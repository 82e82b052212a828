// What the property store and the descriptor attributes tell of a presentation beyond its tags: its length,
// duration and bit rate, and the first audio and video stream's format, read from the presentation descriptor
// the source built (its duration and its streams' current media types).
#pragma once
#include "platform/platform.h"

struct MediaSummary {
    bool durationKnown = false;
    UINT64 duration = 0;    // 100 ns
    LONGLONG fileSize = -1; // -1: not known
    bool hasAudio = false, hasVideo = false;
    UINT32 audioBitrate = 0; // bits per second; 0: not known
    bool variableBitrate = false;
    UINT32 channels = 0, sampleRate = 0;
    UINT32 width = 0, height = 0;
    UINT32 frameRateNumerator = 0, frameRateDenominator = 0;
};

HRESULT SummarizePresentation(IMFPresentationDescriptor* pd, LONGLONG fileSize, MediaSummary* out);
