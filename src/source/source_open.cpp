// The open: the core over the host's byte stream, a media stream per logical stream that can be played, the
// presentation descriptor and what a host cannot read from a media type.
#include <cstdlib>

#include "descriptor_attributes.h"
#include "mf_type_from_am.h"
#include "ogg/media_types.h"
#include "ogg_attributes.h"
#include "ogg_source.h"
#include "production_item.h"
#include "registry_stuff.h"
#include "stream_reader.h"
#include "support/alloc.h"

namespace {
// The core's news for the source, through the source's link: the core holds this, not the source, so that the
// source dies with its host's last reference while the core's reader may still be in a read.
class CDemuxEvents final : public IOggDemuxSink, public CNoThrowAlloc {
public:
    explicit CDemuxEvents(SourceLink* link) : m_pLink(link) { m_pLink->AddRef(); }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) delete this;
        return n;
    }
    HRESULT DeliverPacket(int32_t stream, DWORD run, const OggSamplePacket& packet) override {
        OGGSource* source = m_pLink->Acquire();
        if (!source) return S_FALSE;
        HRESULT hr = source->DeliverPacket(stream, run, packet);
        source->Release();
        return hr;
    }
    void EndOfBatch(int32_t stream, DWORD run) override {
        if (OGGSource* source = m_pLink->Acquire()) {
            source->EndOfBatch(stream, run);
            source->Release();
        }
    }
    void EndOfStream(int32_t stream, DWORD run, HRESULT cause) override {
        if (OGGSource* source = m_pLink->Acquire()) {
            source->EndOfStream(stream, run, cause);
            source->Release();
        }
    }
    void DataReady(int32_t stream, DWORD run) override {
        if (OGGSource* source = m_pLink->Acquire()) {
            source->DataReady(stream, run);
            source->Release();
        }
    }
    Consumer ConsumerOf(int32_t stream) override {
        OGGSource* source = m_pLink->Acquire();
        const Consumer consumer = source ? source->ConsumerOf(stream) : Consumer::Idle;
        if (source) source->Release();
        return consumer;
    }
    void LinkArrived(int32_t link, COggLiveLink* live) override {
        if (OGGSource* source = m_pLink->Acquire()) {
            source->LinkArrived(link, live);
            source->Release();
        }
    }
    void StreamIdle(int32_t stream, DWORD run, LONGLONG time) override {
        if (OGGSource* source = m_pLink->Acquire()) {
            source->StreamIdle(stream, run, time);
            source->Release();
        }
    }

private:
    ~CDemuxEvents() { m_pLink->Release(); }
    std::atomic<ULONG> m_cRef{1};
    SourceLink* m_pLink;
};
} // namespace

HRESULT OGGSource::Initialize(IMFByteStream* stream) {
    CAutoLock lock(m_lock);
    if (!stream) return E_POINTER;
    StreamReader* reader = new StreamReader(stream);
    CDemuxEvents* events = new CDemuxEvents(m_pLink);
    CFourccMap fourccs;
    CRegistryStuff().ReadFourccMap(&fourccs);
    HRESULT hr = reader && events ? COggDemuxer::Create(reader, fourccs, events, &m_pCore) : E_OUTOFMEMORY;
    if (reader) reader->Release();
    if (events) events->Release();
    if (SUCCEEDED(hr)) {
        m_state = SourceOpening;
        hr = m_pCore->Open();
    }
    if (SUCCEEDED(hr)) m_characteristics = Characteristics(m_pCore->Caps());
    if (SUCCEEDED(hr)) hr = CreateMediaStreams();
    if (SUCCEEDED(hr)) hr = BuildPresentationDescriptor();
    if (SUCCEEDED(hr)) DescribeStreams();
    MediaSummary& summary = m_linkSummary;
    if (SUCCEEDED(hr)) hr = SummarizePresentation(m_pPD, m_pCore->Caps().length, &summary);
    if (SUCCEEDED(hr)) hr = SetDescriptorAttributes(m_pPD, summary, m_pCore->LinkTags(0), stream);
    // What a link change tells the host, copied once: production reads it without the source lock.
    if (SUCCEEDED(hr)) hr = MFCreateAttributes(&m_pLinkAttributes, 16);
    if (SUCCEEDED(hr)) hr = m_pPD->CopyAllItems(m_pLinkAttributes);
    // A byte stream's buffering that cannot be relayed (no memory for the relay) leaves the source without
    // it.
    if (SUCCEEDED(hr)) CBufferingRelay::Start(stream, m_pLink, &m_pBuffering);
    if (FAILED(hr)) Shutdown();
    return hr;
}

// Bytes that cannot be read again cannot be sought in; a remote stream that cannot seek and has no length is
// a broadcast (a plain file served that way ends like any other).
DWORD OGGSource::Characteristics(const ByteSourceCaps& caps) {
    DWORD c = MFMEDIASOURCE_CAN_PAUSE;
    if (caps.seekable) c |= MFMEDIASOURCE_CAN_SEEK;
    if (caps.Live()) c |= MFMEDIASOURCE_IS_LIVE;
    return c;
}

// A media stream per logical stream that can be played, whose identifier's low 8 bits no earlier one has; at
// most 32.
HRESULT OGGSource::CreateMediaStreams() {
    m_cProduction = m_pCore->StreamCount();
    m_production = new (std::nothrow) Production[static_cast<size_t>(m_cProduction)];
    if (!m_production) return E_OUTOFMEMORY;
    for (int32_t i = 0; i < m_cProduction; ++i) {
        if (!m_pCore->Stream(i)->Logical().IsMediaStream()) continue;
        const HRESULT hr = CreateMediaStream(i);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT OGGSource::CreateMediaStream(int32_t index) {
    const COggLogicalStream& stream = m_pCore->Stream(index)->Logical();
    const uint32_t id = stream.Serial();
    for (uint32_t i = 0; i < m_cStreams; ++i)
        if (m_streamIds[i] == static_cast<BYTE>(id) && m_streams[i]) return S_OK;
    if (m_cStreams == MaxMediaStreams) return E_FAIL; // the 33rd media stream does not fit
    IMFMediaType* types[2] = {};
    HRESULT hr = CreateStreamTypes(stream.MediaType(), types);
    IMFStreamDescriptor* sd = nullptr;
    IMFMediaTypeHandler* handler = nullptr;
    OGGStream* media = nullptr;
    CProductionItem* item = nullptr;
    if (SUCCEEDED(hr)) hr = MFCreateStreamDescriptor(id, 2, types, &sd);
    if (SUCCEEDED(hr)) hr = sd->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr)) hr = handler->SetCurrentMediaType(types[0]);
    if (SUCCEEDED(hr)) {
        media = new OGGStream(m_pLink, sd, id, index, &hr);
        if (!media) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        item = new CProductionItem(m_pLink, index);
        if (!item) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        m_streams[m_cStreams] = media;
        m_streamIds[m_cStreams++] = static_cast<BYTE>(id);
        m_production[index].media = media;
        m_production[index].item = item;
        media = nullptr;
        item = nullptr;
    }
    if (item) item->Release();
    if (media) media->Release();
    if (handler) handler->Release();
    if (sd) sd->Release();
    for (IMFMediaType* t : types)
        if (t) t->Release();
    return hr;
}

HRESULT OGGSource::BuildPresentationDescriptor() {
    if (m_cStreams == 0) return E_FAIL;
    IMFStreamDescriptor* sds[MaxMediaStreams] = {};
    HRESULT hr = S_OK;
    for (uint32_t i = 0; i < m_cStreams && SUCCEEDED(hr); ++i)
        hr = m_streams[i]->GetStreamDescriptor(&sds[i]);
    if (SUCCEEDED(hr)) hr = MFCreatePresentationDescriptor(m_cStreams, sds, &m_pPD);
    for (const GUID* major : {&MFMediaType_Video, &MFMediaType_Audio}) {
        for (uint32_t i = 0; SUCCEEDED(hr) && i < m_cStreams; ++i) {
            IMFMediaTypeHandler* handler = nullptr;
            GUID type = GUID_NULL;
            hr = sds[i]->GetMediaTypeHandler(&handler);
            if (SUCCEEDED(hr)) {
                hr = handler->GetMajorType(&type);
                handler->Release();
            }
            if (SUCCEEDED(hr) && IsEqualGUID(type, *major)) {
                m_pPD->SelectStream(i);
                break;
            }
        }
    }
    if (SUCCEEDED(hr)) {
        // A duration that is not known is not stated (rather than a made-up figure a host would show).
        if (m_pCore->Duration() < UnknownLength)
            m_pPD->SetUINT64(MF_PD_DURATION, static_cast<UINT64>(m_pCore->Duration()));
        m_pPD->SetUINT64(MF_PD_OGG_ORIGIN, static_cast<UINT64>(m_pCore->Origin()));
        if (m_pCore->LinkCount() > 1) hr = DescribeLinks(m_pPD);
        // Before a start the tags are those of the link that plays at 0 (a first link may last no time).
        if (m_pCore->LinkCount() > 1) m_linksTold.Restart(m_pCore->LinkAt(0));
    }
    if (SUCCEEDED(hr)) m_state = SourceStopped;
    for (IMFStreamDescriptor* sd : sds)
        if (sd) sd->Release();
    return hr;
}

// A chained file's links on the presentation descriptor (MF_PD_OGG_LINKS).
HRESULT OGGSource::DescribeLinks(IMFPresentationDescriptor* pd) {
    const int32_t links = m_pCore->LinkCount();
    size_t n = 1 + 4 * static_cast<size_t>(links);
    for (int32_t k = 0; k < links; ++k)
        n += 3 * static_cast<size_t>(m_pCore->LinkStreamCount(k));
    auto* v = static_cast<int64_t*>(AllocBytes(n * sizeof(int64_t)));
    if (!v) return E_OUTOFMEMORY;
    size_t i = 0;
    v[i++] = links;
    for (int32_t k = 0; k < links; ++k) {
        const FileLink& l = m_pCore->Link(k);
        const int32_t count = m_pCore->LinkStreamCount(k);
        v[i++] = l.begin;
        v[i++] = l.start;
        v[i++] = l.duration;
        v[i++] = count;
        for (int32_t j = 0; j < count; ++j) {
            const COggLogicalStream& s = m_pCore->LinkStreamAt(k, j);
            bool played = false;
            for (int32_t m = 0; m < m_pCore->StreamCount() && !played; ++m) {
                const COggLogicalStream& first = m_pCore->Stream(m)->Logical();
                played = first.Chained() && first.InLink(k).record == &s;
            }
            v[i++] = s.Serial();
            v[i++] = s.CodecKind();
            v[i++] = played;
        }
    }
    HRESULT hr = pd->SetBlob(MF_PD_OGG_LINKS, reinterpret_cast<const UINT8*>(v),
                             static_cast<UINT32>(i * sizeof(int64_t)));
    std::free(v);
    return hr;
}

// What a host cannot read from a media type: the codec, the OGM stream type, start and end times.
void OGGSource::DescribeStreams() {
    const LONGLONG origin = m_pCore->Origin();
    for (int32_t i = 0; i < m_cProduction; ++i) {
        OGGStream* media = m_production[i].media;
        const COggLogicalStream& s = m_pCore->Stream(i)->Logical();
        IMFStreamDescriptor* sd = nullptr;
        if (!media || FAILED(media->GetStreamDescriptor(&sd))) continue;
        sd->SetUINT32(MF_SD_OGG_CODEC, static_cast<UINT32>(s.CodecKind()));
        if (const char* type = s.OgmType()) {
            wchar_t wide[8] = {};
            for (int k = 0; type[k] && k < 7; ++k)
                wide[k] = static_cast<wchar_t>(type[k]);
            sd->SetString(MF_SD_OGM_TYPE, wide);
        }
        const LONGLONG start = s.FirstTimeKnown() ? s.FirstTime() : s.StartTime();
        sd->SetUINT64(MF_SD_OGG_START_TIME, static_cast<UINT64>(start - origin));
        if (s.EndTimeKnown()) sd->SetUINT64(MF_SD_OGG_END_TIME, static_cast<UINT64>(s.EndTime() - origin));
        sd->Release();
    }
}
