// Production on the source's side: the core's packets become samples (buffers from the stream's pool), handed
// to the media stream a few at a time; production runs on a work item of its own per stream, asked for by the
// media stream when its reserve runs low and by the core's reader when a stream that ran dry has data again.
#include <cstring>

#include "ogg/live_link.h"
#include "ogg_source.h"
#include "production_item.h"
#include "support/trace.h"

bool OGGSource::ScheduleProduction(int32_t index) {
    if (index < 0 || index >= m_cProduction || !m_production[index].item || ShutDown()) return false;
    if (m_production[index].item->Ask()) return true;
    if (!ShutDown()) QueueEvent(MEError, GUID_NULL, E_OUTOFMEMORY, nullptr);
    return false;
}

void OGGSource::DataReady(int32_t stream, DWORD run) {
    if (run == m_runId.load()) ScheduleProduction(stream);
}

IOggDemuxSink::Consumer OGGSource::ConsumerOf(int32_t index) {
    OGGStream* media = MediaStreamOf(index);
    return media ? media->ConsumerState() : Consumer::Idle;
}

// The next link of a chain plays: the host hears that the presentation's metadata changed, once per link
// whichever of its streams gets there first.
void OGGSource::LinkArrived(int32_t link, COggLiveLink* live) {
    if (ShutDown() || !m_linksTold.FirstReach(link)) return;
    Trace("\nLink %d plays", link);
    TellLink(link, live);
}

void OGGSource::RelayBuffering(MediaEventType type) {
    if (type == MEBufferingStarted ? m_state.load() != SourceStarted || m_bufferingTold.exchange(true)
                                   : !m_bufferingTold.exchange(false))
        return;
    QueueEvent(type, GUID_NULL, S_OK, nullptr);
}

void OGGSource::StreamIdle(int32_t index, DWORD run, LONGLONG time) {
    OGGStream* media = MediaStreamOf(index);
    if (!media || run != m_runId.load()) return;
    const HRESULT hr = media->Tick(run, time);
    if (FAILED(hr) && hr != MF_E_SHUTDOWN) QueueEvent(MEError, GUID_NULL, hr, nullptr);
}

void OGGSource::Produce(int32_t index) {
    if (ShutDown() || !m_pCore) return;
    const HRESULT hr = m_pCore->Produce(index, m_runId.load(), this);
    // A sample that could not be made, or a packet beyond what a stream may hold, fails the play: the host
    // hears of it rather than waiting for a sample that will not come.
    if (FAILED(hr) && hr != MF_E_SHUTDOWN) QueueEvent(MEError, GUID_NULL, hr, nullptr);
}

HRESULT OGGSource::MakeSample(int32_t index, const OggSamplePacket& packet, IMFSample** out) {
    *out = nullptr;
    Production& p = m_production[index];
    // The buffer comes from the stream's pool, sized to the packet, not a new one of the largest sample size.
    if (!p.pool) p.pool = CBufferPool::Create();
    IMFMediaBuffer* buffer = nullptr;
    HRESULT hr = p.pool ? p.pool->Get(packet.length, &buffer) : E_OUTOFMEMORY;
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    hr = buffer->Lock(&data, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        if (packet.length) std::memcpy(data, packet.data, packet.length);
        buffer->Unlock();
        hr = buffer->SetCurrentLength(packet.length);
    }
    IMFSample* sample = nullptr;
    if (SUCCEEDED(hr)) hr = MFCreateSample(&sample); // a failing sample is handled like a failing buffer
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer);
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(packet.time);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(packet.duration);
    if (SUCCEEDED(hr) && packet.cleanPoint >= 0)
        hr = sample->SetUINT32(MFSampleExtension_CleanPoint, packet.cleanPoint ? 1 : 0);
    if (SUCCEEDED(hr) && packet.discontinuity >= 0)
        hr = sample->SetUINT32(MFSampleExtension_Discontinuity, packet.discontinuity ? 1 : 0);
    buffer->Release();
    if (FAILED(hr)) {
        if (sample) sample->Release();
        return hr;
    }
    *out = sample;
    return S_OK;
}

// Samples go to the media stream a few at a time: their events are then queued back to back, and a host
// reading them wakes once for the lot, not once per sample; the stream's lock, which the host's requests take
// too, is taken once per batch.
HRESULT OGGSource::FlushBatch(int32_t index, DWORD run, bool* full) {
    Production& p = m_production[index];
    *full = false;
    if (p.count == 0) return S_OK;
    HRESULT hr = p.media ? p.media->DeliverSamples(p.batch, p.count, run, full) : S_FALSE;
    for (int i = 0; i < p.count; ++i)
        p.batch[i]->Release();
    p.count = 0;
    p.bytes = 0;
    return hr;
}

HRESULT OGGSource::DeliverPacket(int32_t index, DWORD run, const OggSamplePacket& packet) {
    if (index < 0 || index >= m_cProduction || !m_production[index].media) return S_FALSE;
    Production& p = m_production[index];
    HRESULT hr = S_OK;
    bool full = false;
    if (packet.format) { // a link of another format: the samples before it go first
        hr = FlushBatch(index, run, &full);
        if (SUCCEEDED(hr)) hr = p.media->NoteFormat(*packet.format);
        if (FAILED(hr)) return hr;
    }
    IMFSample* sample = nullptr;
    hr = MakeSample(index, packet, &sample);
    if (FAILED(hr)) return hr;
    p.batch[p.count++] = sample;
    p.bytes += packet.length;
    // The reserve is looked at when a batch goes: it may end up to a batch beyond its marks.
    if (p.count == Production::kBatch || p.bytes >= Production::kBatchBytes) hr = FlushBatch(index, run, &full);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) return S_FALSE; // not taken: another run, or the stream ended
    return full ? S_FALSE : S_OK;
}

void OGGSource::EndOfBatch(int32_t index, DWORD run) {
    if (index < 0 || index >= m_cProduction) return;
    bool full = false;
    const HRESULT hr = FlushBatch(index, run, &full);
    if (FAILED(hr) && hr != MF_E_SHUTDOWN) QueueEvent(MEError, GUID_NULL, hr, nullptr);
}

// The end of a stream's data in a run: what it delivered goes first; the end goes out in answer to the host's
// request.
void OGGSource::EndOfStream(int32_t index, DWORD run, HRESULT cause) {
    if (index < 0 || index >= m_cProduction || !m_production[index].media) return;
    EndOfBatch(index, run);
    if (FAILED(cause))
        Trace("\nStream %u: the data failed (0x%08x)", static_cast<unsigned>(m_production[index].media->Id()),
              static_cast<unsigned>(cause));
    // Data that failed (a read's error, a broadcast cut off where its streams did not end) is no clean end:
    // the host hears why, once per run, before the end goes out.
    if (FAILED(cause) && run == m_runId.load() && m_failedRun.exchange(run) != run)
        QueueEvent(MEError, GUID_NULL, cause, nullptr);
    const HRESULT hr = m_production[index].media->MarkEnded(run);
    if (FAILED(hr) && hr != MF_E_SHUTDOWN) QueueEvent(MEError, GUID_NULL, hr, nullptr);
}
