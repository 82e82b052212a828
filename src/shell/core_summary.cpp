#include "core_summary.h"

#include "oggsource.h"
#include "source/mf_type_from_am.h"

namespace {
constexpr DWORD kMaxMediaStreams = 32; // as many as a source announces

// A stream descriptor as the source makes one: both types, the first current, the codec stated.
HRESULT DescribeStream(const COggLogicalStream& stream, IMFStreamDescriptor** sd) {
    IMFMediaType* types[2] = {};
    IMFMediaTypeHandler* handler = nullptr;
    HRESULT hr = CreateStreamTypes(stream.MediaType(), types);
    if (SUCCEEDED(hr)) hr = MFCreateStreamDescriptor(stream.Serial(), 2, types, sd);
    if (SUCCEEDED(hr)) hr = (*sd)->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr)) hr = handler->SetCurrentMediaType(types[0]);
    if (SUCCEEDED(hr)) hr = (*sd)->SetUINT32(MF_SD_OGG_CODEC, static_cast<UINT32>(stream.CodecKind()));
    if (handler) handler->Release();
    for (IMFMediaType* t : types)
        if (t) t->Release();
    return hr;
}

// The source's rule: a media stream per logical stream that can be played, whose identifier's low 8 bits no
// earlier one has, at most 32 (where the source refuses a 33rd, the properties of the first 32 are still
// told).
bool Announced(const COggDemuxer& core, int32_t index, const BYTE* ids, DWORD count) {
    if (!core.Stream(index)->Logical().IsMediaStream() || count == kMaxMediaStreams) return false;
    const BYTE id = static_cast<BYTE>(core.Stream(index)->Logical().Serial());
    for (DWORD i = 0; i < count; ++i)
        if (ids[i] == id) return false;
    return true;
}

HRESULT DescribePresentation(const COggDemuxer& core, IMFPresentationDescriptor** pd) {
    IMFStreamDescriptor* sds[kMaxMediaStreams] = {};
    BYTE ids[kMaxMediaStreams] = {};
    DWORD count = 0;
    HRESULT hr = S_OK;
    for (int32_t i = 0; i < core.StreamCount() && SUCCEEDED(hr); ++i) {
        if (!Announced(core, i, ids, count)) continue;
        ids[count] = static_cast<BYTE>(core.Stream(i)->Logical().Serial());
        hr = DescribeStream(core.Stream(i)->Logical(), &sds[count++]);
    }
    if (SUCCEEDED(hr)) hr = count ? MFCreatePresentationDescriptor(count, sds, pd) : MF_E_INVALID_FILE_FORMAT;
    // A duration that is not known is not stated, as on the source's descriptor.
    if (SUCCEEDED(hr) && core.Duration() < UnknownLength)
        hr = (*pd)->SetUINT64(MF_PD_DURATION, static_cast<UINT64>(core.Duration()));
    for (IMFStreamDescriptor* sd : sds)
        if (sd) sd->Release();
    return hr;
}
} // namespace

HRESULT SummarizeCore(const COggDemuxer& core, MediaSummary* out) {
    if (!out) return E_POINTER;
    IMFPresentationDescriptor* pd = nullptr;
    HRESULT hr = DescribePresentation(core, &pd);
    if (SUCCEEDED(hr)) hr = SummarizePresentation(pd, core.Caps().length, out);
    if (pd) pd->Release();
    return hr;
}
