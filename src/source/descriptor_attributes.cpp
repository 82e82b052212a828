#include "descriptor_attributes.h"

#include "tag_values.h"

namespace {
// The byte stream's last modification time (a FILETIME, as Media Foundation's file byte stream keeps it).
HRESULT CopyLastModified(IMFByteStream* stream, IMFPresentationDescriptor* pd) {
    IMFAttributes* attributes = nullptr;
    if (!stream || FAILED(stream->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes))))
        return S_FALSE;
    UINT8 time[sizeof(FILETIME)] = {};
    UINT32 size = 0;
    HRESULT hr = attributes->GetBlob(MF_BYTESTREAM_LAST_MODIFIED_TIME, time, sizeof(time), &size);
    attributes->Release();
    if (FAILED(hr) || size != sizeof(FILETIME)) return S_FALSE; // not known, or not a FILETIME
    return pd->SetBlob(MF_PD_LAST_MODIFIED_TIME, time, size);
}
} // namespace

HRESULT SetStreamTagAttributes(IMFStreamDescriptor* sd, const tags::CPresentationTags& tags) {
    DWORD id = 0;
    HRESULT hr = sd->GetStreamIdentifier(&id);
    if (FAILED(hr)) return hr;
    const int32_t index = TagStreamIndex(tags, id);
    if (index < 0) return S_FALSE;
    hr = SetTagAttribute(sd, MF_SD_LANGUAGE, tags.StreamLanguage(static_cast<size_t>(index)));
    if (SUCCEEDED(hr))
        hr = SetTagAttribute(sd, MF_SD_STREAM_NAME, tags.StreamName(static_cast<size_t>(index)));
    return hr;
}

HRESULT SetDescriptorAttributes(IMFPresentationDescriptor* pd, const MediaSummary& summary,
                                const tags::CPresentationTags* tags, IMFByteStream* stream) {
    // The registered MIME types: video/ogg for a presentation with a picture, audio/ogg for sound alone.
    HRESULT hr = pd->SetString(MF_PD_MIME_TYPE, summary.hasVideo ? L"video/ogg" : L"audio/ogg");
    if (SUCCEEDED(hr) && summary.fileSize >= 0)
        hr = pd->SetUINT64(MF_PD_TOTAL_FILE_SIZE, static_cast<UINT64>(summary.fileSize));
    if (SUCCEEDED(hr) && summary.hasAudio && summary.audioBitrate > 0)
        hr = pd->SetUINT32(MF_PD_AUDIO_ENCODING_BITRATE, summary.audioBitrate);
    if (SUCCEEDED(hr) && summary.hasAudio)
        hr = pd->SetUINT32(MF_PD_AUDIO_ISVARIABLEBITRATE, summary.variableBitrate ? TRUE : FALSE);
    if (SUCCEEDED(hr)) hr = CopyLastModified(stream, pd);
    DWORD count = 0;
    if (SUCCEEDED(hr) && tags) hr = pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && tags && i < count; ++i) {
        BOOL selected = FALSE;
        IMFStreamDescriptor* sd = nullptr;
        hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (SUCCEEDED(hr)) hr = SetStreamTagAttributes(sd, *tags);
        if (sd) sd->Release();
    }
    return SUCCEEDED(hr) ? S_OK : hr;
}
