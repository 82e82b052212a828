#include "stream_core.h"

#include "stream_byte_source.h"

namespace {
// The core tells nothing to a sink here: no run is ever begun.
class CNoSink final : public IOggDemuxSink {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT DeliverPacket(int32_t, DWORD, const OggSamplePacket&) override { return S_FALSE; }
    void EndOfBatch(int32_t, DWORD) override {}
    void EndOfStream(int32_t, DWORD, HRESULT) override {}
    void DataReady(int32_t, DWORD) override {}
    Consumer ConsumerOf(int32_t) override { return Consumer::Idle; }
};
} // namespace

HRESULT OpenStreamCore(IStream* stream, COggDemuxer** core) {
    if (!stream || !core) return E_POINTER;
    *core = nullptr;
    static CNoSink sink;
    CStreamByteSource* source = new CStreamByteSource(stream);
    if (!source) return E_OUTOFMEMORY;
    COggDemuxer* opened = nullptr;
    // The FOURCC mapping changes video subtypes only, which no shell handler shows: the defaults serve.
    HRESULT hr = COggDemuxer::Create(source, CFourccMap(), &sink, &opened);
    source->Release();
    if (SUCCEEDED(hr)) hr = opened->Open();
    if (FAILED(hr)) {
        CloseStreamCore(opened);
        return hr;
    }
    *core = opened;
    return hr;
}

void CloseStreamCore(COggDemuxer* core) {
    if (!core) return;
    core->Shutdown();
    core->Release();
}

const tags::CPresentationTags* StartTags(const COggDemuxer& core) {
    return core.LinkTags(core.LinkCount() > 1 ? core.LinkAt(0) : 0);
}
