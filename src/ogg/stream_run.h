// A stream's run: what the dispatch starts, seeks, stops and ends, and where production stands in it. Its fields
// change only through the transitions below, each made under the stream's lock (COggStream holds it).
#pragma once
#include "ogg_types.h"

class COggStreamRun {
public:
    // A new run read from the stream's start or from where a seek puts it: the first sample is a discontinuity, the
    // codec's start sample and headers go out again. Where a seek resumes delivery comes later (Positioned), before
    // the first page of the run is queued.
    void Begin(DWORD run, LONGLONG stop) {
        m_run = run;
        m_running = true;
        m_ended = false;
        m_discontinuity = m_headersDue = true;
        m_startSample = true;
        m_stop = stop;
        m_firstWanted = MinTime;
    }
    // The search found where the stream resumes: video resumes at the key frame that starts there (packets before
    // it, key frames of the page read first included, are not delivered); MinTime for anywhere.
    void Positioned(DWORD run, LONGLONG firstWanted) {
        if (run != m_run) return;
        m_firstWanted = firstWanted;
    }
    void Stop() { m_running = false; }
    // The stream sent its last packet of the run (or found no more).
    void End() { m_ended = true; }
    void Select(bool selected) { m_selected = selected; }
    // A hole in the stream's own pages (their sequence numbers jump): the next sample is a discontinuity.
    void Gap() { m_discontinuity = true; }
    // Another link of a chain: a discontinuity, with that link's headers ahead of it.
    void NewLink() { m_discontinuity = m_headersDue = true; }
    // The first sample after a discontinuity went out.
    void Delivered() { m_discontinuity = m_headersDue = false; }
    void StartSampleSent() { m_startSample = false; }

    // Production may go on in this run.
    bool Producing(DWORD run) const { return m_running && run == m_run && m_selected && !m_ended; }
    DWORD Run() const { return m_run; }
    bool Running() const { return m_running; }
    bool Selected() const { return m_selected; }
    bool Ended() const { return m_ended; }
    bool Discontinuity() const { return m_discontinuity; }
    bool HeadersDue() const { return m_headersDue; }
    bool StartSampleDue() const { return m_startSample; }
    LONGLONG StopTime() const { return m_stop; }
    LONGLONG FirstWanted() const { return m_firstWanted; }

private:
    DWORD m_run = 0;
    bool m_running = false;
    bool m_selected = false;
    bool m_ended = false;
    bool m_discontinuity = true;
    bool m_headersDue = true;
    bool m_startSample = true;
    LONGLONG m_stop = MaxTime;
    LONGLONG m_firstWanted = MinTime;
};
