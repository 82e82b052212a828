// The stream record's transitions and its production: from queued pages to timed packets for the sink.
#include "ogg_stream.h"

#include "support/trace.h"

COggStream::COggStream(int32_t index, uint32_t serial, const CFourccMap* fourccs)
    : m_index(index), m_logical(serial, fourccs), m_clock(&m_logical) {
}

void COggStream::Opened(const FileLink* links, LONGLONG origin, bool readOnce) {
    m_readAhead.SetMarks(m_logical.QueueHigh(), m_logical.QueueLow());
    std::lock_guard<std::mutex> g(m_lock);
    m_clock.SetTimeline(links, origin);
    if (readOnce) m_clock.ReadOnce();
}

void COggStream::BeginRun(DWORD run, LONGLONG stop) {
    std::lock_guard<std::mutex> g(m_lock);
    m_run.Begin(run, stop);
    m_clock.Restart();
    m_linkEntered = false;
    m_resume.Clear();
    m_readAhead.Restart(run);
}

void COggStream::Positioned(DWORD run, LONGLONG firstWanted, LONGLONG pageTime, LONGLONG target) {
    std::lock_guard<std::mutex> g(m_lock);
    if (run != m_run.Run()) return;
    m_run.Positioned(run, firstWanted);
    // Audio of the page read first that ends before the target is not delivered (a page spans up to seconds).
    if (target != MinTime && IsEqualGUID(m_logical.MediaType().majortype, MEDIATYPE_Audio))
        m_resume.Aim(target);
    m_readAhead.SetLastTime(run, pageTime);
}

void COggStream::StopRun() {
    std::lock_guard<std::mutex> g(m_lock);
    m_run.Stop();
    m_readAhead.Restart(m_run.Run());
}

void COggStream::Select(bool selected) {
    std::lock_guard<std::mutex> g(m_lock);
    m_run.Select(selected);
}

bool COggStream::Selected() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_run.Selected();
}

bool COggStream::TakesPages(DWORD run) {
    std::lock_guard<std::mutex> g(m_lock);
    return m_run.Running() && m_run.Run() == run && m_run.Selected() && !m_run.Ended();
}

HRESULT COggStream::Produce(DWORD run, IOggDemuxSink* sink, IReaderWake* reader) {
    HRESULT hr;
    bool started = false; // the run's first sample is made
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_run.Producing(run)) return S_OK;
        hr = ProduceLocked(run, sink, reader);
        started = !m_run.Discontinuity();
    }
    sink->EndOfBatch(m_index, run);
    bool first = false;
    if (started) m_readAhead.FirstSampleOut(run, &first);
    if (first) reader->Wake();
    if (hr == S_FALSE) { // the host holds enough: a reader waiting for this queue thinks again
        bool wake = false;
        m_readAhead.ProductionStopped(&wake);
        if (wake) reader->Wake();
        hr = S_OK;
    }
    return hr;
}

bool COggStream::NextPacket(OggPacketInfo* packet, IReaderWake* reader, bool* ended, HRESULT* cause) {
    *ended = false;
    for (;;) {
        const bool got = m_clock.Next(packet);
        if (m_clock.TakeHole()) m_run.Gap();
        if (got) return true;
        bool wake = false;
        PageNode* node = m_readAhead.Take(m_run.Discontinuity(), &wake);
        if (wake) reader->Wake();
        if (!node) {
            *ended = m_readAhead.Drained(cause);
            return false;
        }
        bool switched = false;
        const HRESULT fed = m_clock.Feed(&node->page, node->link, &switched);
        m_readAhead.Recycle(node);
        if (FAILED(fed)) {
            Trace("\nStream %u: a packet of more than %lld bytes, the stream ends", m_logical.Serial(),
                  static_cast<long long>(kMaxPacketBytes));
            *ended = true;
            *cause = fed;
            return false;
        }
        if (switched) {
            m_run.NewLink();
            m_linkEntered = true;
        }
    }
}

// After a start or a seek compressed video resumes at a key frame, the one the seek found (not an earlier one
// on the page read first).
bool COggStream::Wanted(const OggPacketInfo& pk) const {
    if (!m_run.Discontinuity()) return true;
    const bool temporal = m_logical.MediaType().bTemporalCompression != FALSE;
    if (!pk.key && (!pk.hasTime || temporal)) return false;
    return !(temporal && pk.hasTime && pk.start < m_run.FirstWanted());
}

HRESULT COggStream::Deliver(DWORD run, IOggDemuxSink* sink, const OggPacketInfo& pk) {
    OggSamplePacket out;
    bool full = false;
    const COggCodec* codec = m_clock.Codec();
    if (m_run.HeadersDue()) {
        // In a chained file the owner learns the link's type first: a link of another format is announced
        // ahead of its first sample. The codec's headers go ahead of the first sample of a run.
        if (const COggLogicalStream* record = m_clock.LinkRecord()) out.format = &record->MediaType();
        int headers = 0;
        const SavedPacket* saved = codec ? codec->HeaderSamples(&headers) : nullptr;
        for (int i = 0; i < headers; ++i) {
            const SavedPacket& h = saved[i];
            if (static_cast<DWORD>(h.bytes) > m_logical.MaxSampleSize() || !h.data) break;
            out.data = h.data;
            out.length = static_cast<DWORD>(h.bytes);
            const HRESULT hr =
                sink->DeliverPacket(m_index, run, out); // a full reserve takes them all the same
            if (FAILED(hr)) break;
            full = full || hr == S_FALSE;
            out.format = nullptr;
        }
    }
    out.data = pk.data;
    out.length = static_cast<DWORD>(pk.length);
    out.time = pk.hasTime ? pk.start : 0;
    // A packet whose granules run backwards (a damaged or crafted file) lasts nothing rather than less.
    out.duration = pk.hasTime && pk.end > pk.start ? SatSub(pk.end, pk.start) : 0;
    out.cleanPoint = pk.key ? 1 : 0;
    out.discontinuity = m_run.Discontinuity() ? 1 : 0;
    m_run.Delivered();
    if (pk.hasTime && pk.end >= 0) m_readAhead.Fed();
    const HRESULT hr = sink->DeliverPacket(m_index, run, out);
    return SUCCEEDED(hr) && full ? S_FALSE : hr;
}

HRESULT COggStream::ProduceLocked(DWORD run, IOggDemuxSink* sink, IReaderWake* reader) {
    const COggCodec* codec = m_logical.Codec();
    if (m_run.StartSampleDue()) {
        m_run.StartSampleSent();
        if (codec && codec->WantsStartSample()) {
            const BYTE byte = 0; // the start sample's one byte carries nothing
            OggSamplePacket start;
            start.data = &byte;
            start.length = 1;
            start.duration = 1;
            start.cleanPoint = 1;
            start.discontinuity = 1;
            const HRESULT hr = sink->DeliverPacket(m_index, run, start);
            if (FAILED(hr)) return hr;
        }
    }
    for (;;) {
        OggPacketInfo pk;
        bool ended = false;
        HRESULT cause = S_OK;
        if (!NextPacket(&pk, reader, &ended, &cause)) {
            if (!ended) return S_OK; // the page that comes (or the end of the data) asks for more
            m_run.End();
            // A packet beyond what a stream may hold fails the play, as a sample that cannot be made does:
            // the owner hears of it from the failure returned, not from an end that would come first.
            if (cause == MF_E_INVALID_FILE_FORMAT) return cause;
            sink->EndOfStream(m_index, run, cause);
            return S_OK;
        }
        if (m_linkEntered) { // the owner hears of a link ahead of its first packet
            m_linkEntered = false;
            sink->LinkArrived(m_clock.Link(), m_clock.LiveLink());
        }
        if (!Wanted(pk) || m_resume.Skip(pk, m_clock.Codec())) continue;
        OggPacketInfo before;
        if (m_resume.TakeKept(&before)) { // the packet the codec needs ahead of the target's
            const HRESULT hr = Deliver(run, sink, before);
            if (FAILED(hr)) return hr;
        }
        const HRESULT hr = Deliver(run, sink, pk);
        if (FAILED(hr)) return hr;
        if ((pk.hasTime && pk.end > m_run.StopTime()) || pk.eos) {
            m_run.End();
            sink->EndOfStream(m_index, run, S_OK);
            return S_OK;
        }
        if (hr == S_FALSE) return S_FALSE; // the host holds enough: it asks again once it has taken some
    }
}
