// Positions, duration and the applying of a new start position to every stream's reader.
#include <cstdio>

#include "seek_search.h"
#include "source_core.h"
#include "support/trace.h"

HRESULT CSeeking::SetCurrentPosition(const LONGLONG* position) {
    static char texts[4][260];
    static std::atomic<unsigned> next{0};
    char* text = texts[next++ % 4];
    if (!position) std::snprintf(text, 260, "(NULL)");
    else if (!m_bTimeFormatIsTime) std::snprintf(text, 260, "%u frame", static_cast<unsigned>(*position));
    else if (*position == 0x7fffffffffffffffLL) std::snprintf(text, 260, "MAX_INT64");
    else if (*position == -0x7fffffffffffffffLL) std::snprintf(text, 260, "MIN_INT64");
    else std::snprintf(text, 260, "%s", FormatDuration(*position / 10000));
    Trace("\n+ SetCurrentPosition. Current=%s", text);
    if (!position) return E_POINTER; // nothing to store: the pointer is not read
    StoreStart(*position);
    HRESULT hr = ApplyPositions();
    Trace("- SetCurrentPosition");
    return hr;
}

HRESULT COggSourceCore::GetCurrentPosition(LONGLONG* position) {
    if (!position) return E_POINTER;
    if (MediaStreamCount() == 0) return E_UNEXPECTED;
    if (m_bTimeFormatIsTime) {
        *position = m_rtCurrent;
        return S_OK;
    }
    if (!HasVideoStream()) return E_UNEXPECTED;
    *position = m_llCurrentFrame;
    return S_OK;
}

HRESULT COggSourceCore::GetDuration(LONGLONG* duration) {
    if (!duration) return E_POINTER;
    CAutoLock lock(m_lock);
    if (m_bTimeFormatIsTime) {
        *duration = m_llSpan;
        return S_OK;
    }
    return TimeToFrames(m_llSpan, duration);
}

namespace {
LONGLONG FirstFrameDuration(COggStream** streams, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (IsEqualGUID(streams[i]->m_mediaType.majortype, MEDIATYPE_Video)) return streams[i]->FrameDuration();
    return 0;
}
} // namespace

HRESULT COggSourceCore::FramesToTime(LONGLONG frames, LONGLONG* time) {
    LONGLONG d = FirstFrameDuration(m_ppOggStreams, m_cOggStreams);
    if (d < 1) return E_NOTIMPL;
    *time = frames * d;
    return S_OK;
}

HRESULT COggSourceCore::TimeToFrames(LONGLONG time, LONGLONG* frames) {
    LONGLONG d = FirstFrameDuration(m_ppOggStreams, m_cOggStreams);
    if (d < 1) return E_NOTIMPL;
    *frames = time / d;
    return S_OK;
}

BOOL COggSourceCore::HasVideoStream() {
    for (int32_t i = 0; i < m_cOggStreams; ++i)
        if (IsEqualGUID(m_ppOggStreams[i]->m_mediaType.majortype, MEDIATYPE_Video)) return TRUE;
    return FALSE;
}

// The seeking lock guards the positions only: the search runs after it is let go, since it takes the
// source lock (for the duration), which the operation thread holds when it comes here.
HRESULT COggSourceCore::ApplyPositions() {
    LONGLONG start = 0, stop = 0;
    {
        CAutoLock lock(m_csSeeking);
        start = m_rtStart;
        stop = m_rtStop;
        if (!m_bTimeFormatIsTime && (FAILED(FramesToTime(m_rtStart, &start)) || FAILED(FramesToTime(m_rtStop, &stop))))
            return S_OK;
        double rate = m_dRateSeeking == 0.0 ? 1.0 : m_dRateSeeking;
        if (m_bApplied && m_rtAppliedStart == start && m_rtAppliedStop == stop && m_dAppliedRate == m_dRateSeeking)
            return S_OK;
        int32_t state = m_state;
        if (state != SourceStarted) {
            m_rtAppliedStart = start;
            m_rtAppliedStop = stop;
            m_dAppliedRate = rate;
            m_bApplied = TRUE;
        }
        if (state != SourceStopped) return S_OK;
    }
    return PositionReaders(start, stop);
}

HRESULT COggSourceCore::PositionReaders(LONGLONG start, LONGLONG stop) {
    // A start at 0 is the start of the file: every reader at byte 0, no search (the origin is the time of the
    // first packet, which a search for it would land after when that packet does not end its page).
    if (start == 0) {
        SetReaderPositions(0);
        for (int32_t i = 0; i < m_cOggStreams; ++i) m_ppOggStreams[i]->SetLastTime(0);
        return S_OK;
    }
    CSeekSearch search(this); // one search for every stream: what one reads, the others find in its cache
    for (int32_t i = 0; i < m_cOggStreams; ++i) {
        COggStream* s = m_ppOggStreams[i];
        LONGLONG t = 0, wanted = MinTime;
        // Seek targets are positions on the presentation's timeline: the origin gives the streams' own time.
        HRESULT hr = s->m_pChain ? ChainedPosition(&search, s, start, stop, &t, &wanted)
                                 : s->m_reader.FindPagePosition(&search, s, SatAdd(m_llOrigin, start), SatAdd(m_llOrigin, stop),
                                                                &t, &wanted);
        if (FAILED(hr)) return hr;
        s->SetLastTime(t);
        s->m_llFirstWanted = wanted == MinTime ? MinTime : SatSub(wanted, m_llOrigin);
    }
    return S_OK;
}

void COggSourceCore::ReadRunPositions(LONGLONG* start, LONGLONG* stop, double* rate) {
    CAutoLock lock(m_csSeeking);
    *start = m_rtStart;
    *stop = m_rtStop;
    *rate = m_dRateSeeking;
}

// The rate is set from the host's thread while a run may read it: both under the seeking lock.
void COggSourceCore::StoreRate(double rate) {
    CAutoLock lock(m_csSeeking);
    m_dRateSeeking = rate;
}

double COggSourceCore::CurrentRate() {
    CAutoLock lock(m_csSeeking);
    return m_dRateSeeking;
}

void COggSourceCore::StoreStart(LONGLONG start) {
    CAutoLock lock(m_csSeeking);
    m_rtStart = start;
}

void COggSourceCore::InvalidateApplied() {
    CAutoLock lock(m_csSeeking);
    m_bApplied = FALSE;
}
