// Positions, duration, rate and time format of the presentation.
#pragma once
#include "platform/platform.h"

class CSeeking {
public:
    virtual ~CSeeking() = default;
    virtual HRESULT GetCurrentPosition(LONGLONG* position) = 0;
    virtual HRESULT GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT ApplyPositions() = 0;
    virtual HRESULT FramesToTime(LONGLONG frames, LONGLONG* time) = 0;
    virtual HRESULT TimeToFrames(LONGLONG time, LONGLONG* frames) = 0;
    virtual BOOL HasVideoStream() = 0;
    // Stores the start position (under whatever lock guards the positions).
    virtual void StoreStart(LONGLONG start) = 0;

    // Stores the start of the next run and applies the positions.
    HRESULT SetCurrentPosition(const LONGLONG* position);

    LONGLONG m_rtCurrent = 0;
    LONGLONG m_llCurrentFrame = 0;
    BOOL m_bTimeFormatIsTime = TRUE;
    LONGLONG m_rtStart = 0;
    LONGLONG m_rtStop = 0x7fffffffffffffffLL;
    double m_dRateSeeking = 1.0;
    LONGLONG m_rtAppliedStart = 0, m_rtAppliedStop = 0;
    double m_dAppliedRate = 0;
    BOOL m_bApplied = FALSE;
};
