#include "media_summary.h"

#include "ogg/ogg_types.h"
#include "oggsource.h"

namespace {
HRESULT CurrentType(IMFStreamDescriptor* sd, GUID* major, IMFMediaType** type) {
    IMFMediaTypeHandler* handler = nullptr;
    HRESULT hr = sd->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr)) hr = handler->GetCurrentMediaType(type);
    if (SUCCEEDED(hr)) hr = (*type)->GetMajorType(major);
    if (handler) handler->Release();
    return hr;
}

// Speex is written at a constant rate unless asked otherwise (speexenc's default), and its header's VBR flag
// is not carried to the media type: it counts as constant. The other codecs' packets vary in size.
bool VariableRate(IMFStreamDescriptor* sd) {
    UINT32 codec = CODEC_UNKNOWN;
    sd->GetUINT32(MF_SD_OGG_CODEC, &codec);
    return codec != CODEC_SPEEX && codec != CODEC_UNKNOWN;
}

// Vorbis's own format block: channels (16 bits) and rate (32 bits), little-endian, at its start.
void VorbisBlockFields(const BYTE* b, MediaSummary* s) {
    if (!s->channels) s->channels = static_cast<UINT32>(b[0] | b[1] << 8);
    if (!s->sampleRate) s->sampleRate = b[4] | b[5] << 8 | b[6] << 16 | static_cast<UINT32>(b[7]) << 24;
}

// The block from the type's DirectShow form, or, where the platform gives none back (Windows' and Wine's
// types made by the module's own conversion), from the user data that conversion keeps it in.
void OggVorbisFields(IMFMediaType* type, MediaSummary* s) {
    AM_MEDIA_TYPE* am = nullptr;
    if (FAILED(type->GetRepresentation(AM_MEDIA_TYPE_REPRESENTATION, reinterpret_cast<void**>(&am)))) {
        GUID format = GUID_NULL;
        BYTE* data = nullptr;
        UINT32 size = 0;
        if (SUCCEEDED(type->GetGUID(MF_MT_AM_FORMAT_TYPE, &format)) &&
            IsEqualGUID(format, FORMAT_OggVorbis) &&
            SUCCEEDED(type->GetAllocatedBlob(MF_MT_USER_DATA, &data, &size)) && size >= 8)
            VorbisBlockFields(data, s);
        CoTaskMemFree(data);
        return;
    }
    if (IsEqualGUID(am->formattype, FORMAT_OggVorbis) && am->cbFormat >= 8 && am->pbFormat)
        VorbisBlockFields(am->pbFormat, s);
    type->FreeRepresentation(AM_MEDIA_TYPE_REPRESENTATION, am);
}

void AudioFields(IMFMediaType* type, MediaSummary* s) {
    if (!s->channels) type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &s->channels);
    if (!s->sampleRate) type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &s->sampleRate);
    if (!s->channels || !s->sampleRate) OggVorbisFields(type, s);
    UINT32 bytesPerSecond = 0;
    if (!s->audioBitrate && SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &bytesPerSecond)))
        s->audioBitrate = bytesPerSecond * 8;
}

// A type whose format block is the codec's own states no channels or rate as attributes: they are read from
// the block (Vorbis's) or from the stream's other type (a WAVEFORMATEX form).
void SummarizeAudio(IMFStreamDescriptor* sd, IMFMediaType* type, MediaSummary* s) {
    s->hasAudio = true;
    AudioFields(type, s);
    IMFMediaTypeHandler* handler = nullptr;
    DWORD count = 0;
    if (SUCCEEDED(sd->GetMediaTypeHandler(&handler)) && SUCCEEDED(handler->GetMediaTypeCount(&count))) {
        for (DWORD i = 0; i < count && (!s->channels || !s->sampleRate); ++i) {
            IMFMediaType* other = nullptr;
            if (FAILED(handler->GetMediaTypeByIndex(i, &other))) continue;
            AudioFields(other, s);
            other->Release();
        }
    }
    if (handler) handler->Release();
    s->variableBitrate = VariableRate(sd);
}

void SummarizeVideo(IMFMediaType* type, MediaSummary* s) {
    s->hasVideo = true;
    UINT64 size = 0, rate = 0;
    if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_SIZE, &size))) {
        s->width = static_cast<UINT32>(size >> 32);
        s->height = static_cast<UINT32>(size);
    }
    if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_RATE, &rate))) {
        s->frameRateNumerator = static_cast<UINT32>(rate >> 32);
        s->frameRateDenominator = static_cast<UINT32>(rate);
    }
}
} // namespace

HRESULT SummarizePresentation(IMFPresentationDescriptor* pd, LONGLONG fileSize, MediaSummary* out) {
    MediaSummary s;
    s.fileSize = fileSize >= 0 && fileSize < UnknownLength ? fileSize : -1;
    s.durationKnown = SUCCEEDED(pd->GetUINT64(MF_PD_DURATION, &s.duration));
    DWORD count = 0;
    HRESULT hr = pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        BOOL selected = FALSE;
        IMFStreamDescriptor* sd = nullptr;
        IMFMediaType* type = nullptr;
        GUID major = GUID_NULL;
        hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (SUCCEEDED(hr)) hr = CurrentType(sd, &major, &type);
        if (SUCCEEDED(hr) && IsEqualGUID(major, MFMediaType_Audio) && !s.hasAudio)
            SummarizeAudio(sd, type, &s);
        if (SUCCEEDED(hr) && IsEqualGUID(major, MFMediaType_Video) && !s.hasVideo) SummarizeVideo(type, &s);
        if (type) type->Release();
        if (sd) sd->Release();
    }
    if (FAILED(hr)) return hr;
    // Sound alone: the file's own average (what its bytes cost per second), as the stated rate may be absent
    // or nominal. With video the audio stream's stated rate stays.
    if (s.hasAudio && !s.hasVideo && s.fileSize > 0 && s.durationKnown && s.duration > 0) {
        const double rate = static_cast<double>(s.fileSize) * 8.0 * 1e7 / static_cast<double>(s.duration);
        s.audioBitrate = rate >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<UINT32>(rate + 0.5);
    }
    *out = s;
    return S_OK;
}
