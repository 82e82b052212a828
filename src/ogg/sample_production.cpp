// DeliverSamples: one run of a stream's production loop, from queued pages to delivered samples.
#include <cstring>

#include "ogg_stream.h"
#include "source_core.h"

void COggStream::SignalStop() {
    m_bStop = 1;
    m_evData.Set();
    m_evRun.Set();
}

void COggStream::InitRun() {
    m_bNoGranuleRef = 1;
    m_lastPacketNo = -1;
    m_lastGranule = -1;
    m_lastUnits = 0;
    ogg_stream_reset(&m_oggStream);
    m_bStop = 0;
    m_evData.Reset();
    m_evRun.Reset();
    m_bDiscontinuity = 1;
    LONGLONG start = 0, stop = 0;
    double rate = 1.0;
    m_pSource->ReadRunPositions(&start, &stop, &rate);
    if (!m_pSource->m_bTimeFormatIsTime && (FAILED(m_pSource->FramesToTime(stop, &stop)) ||
                                            FAILED(m_pSource->FramesToTime(start, &start))))
        return;
    m_dRate = rate == 0.0 ? 1.0 : rate;
    m_tStop = stop;
}

HRESULT COggStream::DeliverBuffer(const BYTE* data, DWORD length, LONGLONG time, LONGLONG duration, int cleanPoint,
                                  int discontinuity) {
    // The buffer comes from the stream's pool, sized to the packet, not a new one of the largest sample size.
    if (!m_pPool) m_pPool = CBufferPool::Create();
    IMFMediaBuffer* buffer = nullptr;
    HRESULT hr = m_pPool ? m_pPool->Get(length, &buffer) : E_OUTOFMEMORY;
    if (FAILED(hr)) return hr;
    BYTE* p = nullptr;
    hr = buffer->Lock(&p, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        if (length) std::memcpy(p, data, length);
        buffer->Unlock();
        hr = buffer->SetCurrentLength(length);
    }
    IMFSample* sample = nullptr;
    if (SUCCEEDED(hr)) hr = MFCreateSample(&sample); // a failing sample is handled like a failing buffer
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer);
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(time);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(duration);
    if (SUCCEEDED(hr) && cleanPoint >= 0) hr = sample->SetUINT32(MFSampleExtension_CleanPoint, cleanPoint ? 1 : 0);
    if (SUCCEEDED(hr) && discontinuity >= 0)
        hr = sample->SetUINT32(MFSampleExtension_Discontinuity, discontinuity ? 1 : 0);
    if (SUCCEEDED(hr)) hr = Batch(sample);
    if (sample) sample->Release();
    buffer->Release();
    return hr;
}

// Samples go to the media stream a few at a time: their events are then queued back to back, and a host reading
// them wakes once for the lot, not once per sample. The batch is handed over before every wait and every end.
HRESULT COggStream::Batch(IMFSample* sample) {
    sample->AddRef();
    m_batch[m_cBatch++] = sample;
    return m_cBatch == kBatch ? FlushBatch() : S_OK;
}

HRESULT COggStream::FlushBatch() {
    HRESULT hr = S_OK;
    for (int i = 0; i < m_cBatch; ++i) {
        if (hr == S_OK) hr = m_pStream->DeliverSample(m_batch[i]);
        m_batch[i]->Release();
    }
    m_cBatch = 0;
    return hr;
}

HRESULT COggStream::DeliverSamples() {
    if (!m_pStream) return E_UNEXPECTED;
    const HRESULT hr = ProduceSamples();
    const HRESULT flushed = FlushBatch();
    return hr != S_OK ? hr : flushed;
}

HRESULT COggStream::ProduceSamples() {
    const bool newRun = !m_bRunning || m_bNewRun;
    if (newRun) {
        InitRun();
        m_bNewRun = 0;
        if (m_selected && PlayCodec() && PlayCodec()->WantsStartSample()) {
            const BYTE byte = 0; // the start sample's one byte carries nothing
            HRESULT hr = DeliverBuffer(&byte, 1, 0, 1, 1, 1);
            if (hr != S_OK) return hr;
        }
    }
    // A request that was posted before the stream ended (or was deselected) finds nothing to do: an ended
    // stream must not deliver again from wherever its reader has been moved since.
    if (!newRun && !m_pStream->WantsMoreSamples()) return S_OK;
    CEvent* dataWait[] = {&m_evData, &m_pSource->m_evShutdown};
    CEvent* runWait[] = {&m_evRun, &m_pSource->m_evShutdown};
    bool endSeen = false;
    for (;;) {
        OggPacketInfo pk;
        if (!GetPacket(&pk)) {
            if (endSeen) {
                HRESULT hr = FlushBatch();
                return hr != S_OK ? hr : m_selected ? m_pStream->MarkEndOfStream() : S_OK;
            }
            // The data ends when a read failed, or when this stream's reader met the end of the file with
            // nothing left queued (a stream whose last packet has no end-of-stream flag ends here too).
            if (m_pSource->FileEnded() || m_reader.EndOfFile()) {
                endSeen = true; // the next GetPacket drains what is left
            } else {
                {
                    CAutoLock lock(m_csStarved);
                    m_bStarved = TRUE;
                }
                HRESULT hr = FlushBatch();
                if (hr != S_OK) return hr;
                if (CEvent::WaitAny(dataWait, 2) == 1) return S_OK; // shut down
            }
        } else if (m_bDiscontinuity && !pk.key && (!pk.hasTime || m_mediaType.bTemporalCompression)) {
            // after a start or a seek, compressed video resumes at a key frame
        } else if (m_bDiscontinuity && m_mediaType.bTemporalCompression && pk.hasTime && pk.start < m_llFirstWanted) {
            // ...the one the seek found, not an earlier one on the page read first
        } else {
            if (m_dRate < 0.9999 || m_dRate > 1.0001) {
                pk.start = TimeAtRate(pk.start, m_dRate);
                pk.end = TimeAtRate(pk.end, m_dRate);
            }
            m_pStream->WaitOutLock();
            if (!m_selected) {
                HRESULT hr = FlushBatch();
                if (hr != S_OK) return hr;
                if (CEvent::WaitAny(runWait, 2) == 1) return S_OK;
                m_bDiscontinuity = 1;
                if (pk.end > m_tStop) return S_OK;
            } else {
                // In a chained file the media stream learns the link's type first: a link of another format is
                // announced ahead of its first sample.
                if (m_bDiscontinuity && m_pChain) {
                    HRESULT hr = FlushBatch();
                    if (hr == S_OK) hr = m_pStream->NoteFormat(m_pChain[m_playLink].record->m_mediaType);
                    if (hr != S_OK) return hr;
                }
                int headers = 0;
                const SavedPacket* saved = m_bDiscontinuity && PlayCodec() ? PlayCodec()->HeaderSamples(&headers) : nullptr;
                for (int i = 0; i < headers; ++i) { // the codec's headers go ahead of the first sample of a run
                    const SavedPacket& h = saved[i];
                    if (static_cast<DWORD>(h.bytes) > m_maxSampleSize || !h.data) break;
                    if (DeliverBuffer(h.data, static_cast<DWORD>(h.bytes), 0, 0, -1, -1) != S_OK) break;
                }
                const int discontinuity = m_bDiscontinuity;
                m_bDiscontinuity = 0;
                if (pk.hasTime && pk.end >= 0) {
                    CAutoLock lock(m_csStarved); // the reader clears it too: never touched without the lock
                    m_bStarved = FALSE;
                }
                // A packet whose granules run backwards (a damaged or crafted file) lasts nothing rather than less.
                const LONGLONG duration = pk.hasTime && pk.end > pk.start ? SatSub(pk.end, pk.start) : 0;
                HRESULT hr = DeliverBuffer(pk.data, static_cast<DWORD>(pk.length), pk.hasTime ? pk.start : 0, duration, pk.key,
                                           discontinuity);
                if (hr != S_OK) return hr;
                if ((pk.hasTime && pk.end > m_tStop) || pk.eos) {
                    hr = FlushBatch();
                    return hr != S_OK ? hr : m_pStream->MarkEndOfStream();
                }
            }
        }
        if (!m_pStream->WantsMoreSamples() || m_bStop) return S_OK;
    }
}
