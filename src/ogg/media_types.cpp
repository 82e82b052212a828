#include "media_types.h"

#include <cstring>

#include "ogm_header.h"
#include "fourcc_map.h"

namespace {
constexpr uint32_t kVideoInfoSize = 1128; // the full VIDEOINFO, palette and masks included

bool IsUncompressed(REFGUID subtype) {
    const GUID list[] = {MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32,
                         MEDIASUBTYPE_ARGB32, GuidFromFourcc(0x32595559 /* YUY2 */),
                         GuidFromFourcc(0x59565955 /* UYVY */), GuidFromFourcc(0x55595659 /* YVYU */)};
    for (const GUID& g : list)
        if (IsEqualGUID(subtype, g)) return true;
    return false;
}

// Each hexadecimal character gives its value; any other character counts as 0 in its place.
uint16_t FormatTagFromText(const BYTE* text) {
    uint16_t tag = 0;
    for (int i = 0; i < 4; ++i) {
        int c = text[i], v = 0;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        tag = static_cast<uint16_t>(tag << 4 | v);
    }
    return tag;
}

void SetQueueLimits(const BYTE* header, int32_t* high, int32_t* low) {
    int64_t scaled = static_cast<int64_t>(ogm::BufferSize(header)) * 16 / 4096;
    *high = static_cast<int32_t>(scaled > 16 ? (scaled > INT32_MAX ? INT32_MAX : scaled) : 16);
    *low = *high / 2;
}

bool BuildDirectX(const BYTE* h, size_t size, CAMMediaType* t) {
    if (size < ogm::kDxMinSize) return false; // the media type's fields are not all there
    uint32_t length = ReadLE32(h + ogm::kDxFormatLength), offset = ReadLE32(h + ogm::kDxFormatOffset);
    // A format block that reaches beyond the header is refused: no media type rather than a wild read.
    if (length != 0 && (offset > size || length > size - offset)) return false;
    t->Clear();
    t->Init();
    t->SetType(ogm::ReadGuid(h + ogm::kDxMajor));
    t->SetSubtype(ogm::ReadGuid(h + ogm::kDxSubtype));
    t->bFixedSizeSamples = static_cast<BOOL>(ReadLE32(h + ogm::kDxFixed));
    t->bTemporalCompression = static_cast<BOOL>(ReadLE32(h + ogm::kDxTemporal));
    t->lSampleSize = ReadLE32(h + ogm::kDxSampleSize);
    t->SetFormatType(ogm::ReadGuid(h + ogm::kDxFormatType));
    if (length != 0) t->SetFormat(h + offset, length); // a failed allocation leaves the type without block
    return true;
}

void BuildVideo(const CFourccMap* settings, BYTE* h, CAMMediaType* t) {
    uint32_t fourcc = ReadLE32(h + ogm::kSubtype);
    if (settings) fourcc = settings->Map(fourcc);
    WriteLE32(h + ogm::kSubtype, fourcc);
    t->Clear();
    t->Init();
    t->SetType(MEDIATYPE_Video);
    t->SetSubtype(GuidFromFourcc(fourcc));
    if (!IsUncompressed(t->subtype)) {
        t->SetTemporalCompression(TRUE);
        t->SetVariableSize();
    }
    t->SetFormatType(FORMAT_VideoInfo);
    BYTE* block = t->AllocFormatBuffer(kVideoInfoSize);
    if (!block) return; // no memory: the type stays without its block
    std::memset(block, 0, kVideoInfoSize);
    WriteLE64(block + 40, static_cast<uint64_t>(ogm::TimeUnit(h)));
    WriteLE32(block + 48, 40);
    std::memcpy(block + 52, h + ogm::kWidth, 4);
    std::memcpy(block + 56, h + ogm::kHeight, 4);
    WriteLE16(block + 60, 1);
    std::memcpy(block + 62, h + ogm::kBitsPerSample, 2);
    WriteLE32(block + 64, fourcc);
}

bool BuildAudio(const BYTE* h, size_t size, CAMMediaType* t) {
    int32_t declared = ogm::Size(h);
    // A size below the fixed fields, or beyond the bytes the header has, is refused.
    if (declared < static_cast<int32_t>(ogm::kMinSize) || static_cast<size_t>(declared) > size) return false;
    uint16_t tag = FormatTagFromText(h + ogm::kSubtype);
    t->Clear();
    t->Init();
    t->SetType(MEDIATYPE_Audio);
    t->SetSubtype(GuidFromFourcc(tag));
    t->SetFormatType(FORMAT_WaveFormatEx);
    uint32_t extra = static_cast<uint32_t>(declared) - ogm::kMinSize;
    BYTE* block = t->AllocFormatBuffer(18 + extra);
    if (!block) return true; // no memory: the type stays without its block
    WriteLE16(block, tag);
    std::memcpy(block + 2, h + ogm::kChannels, 2);
    std::memcpy(block + 4, h + ogm::kSamplesPerUnit, 4);
    std::memcpy(block + 8, h + ogm::kAvgBytesPerSec, 4);
    std::memcpy(block + 12, h + ogm::kBlockAlign, 2);
    std::memcpy(block + 14, h + ogm::kBitsPerSample, 2);
    WriteLE16(block + 16, extra);
    if (extra) std::memcpy(block + 18, h + ogm::kExtra, extra);
    return true;
}
} // namespace

bool BuildOgmMediaType(const CFourccMap* settings, BYTE* h, size_t size, CAMMediaType* t, int32_t* high,
                       int32_t* low) {
    if (size < ogm::kMinSize) return false;
    if (ogm::TypeIs(h, "directx")) {
        if (!BuildDirectX(h, size, t)) return false;
    } else if (ogm::TypeIs(h, "video")) {
        BuildVideo(settings, h, t);
    } else if (ogm::TypeIs(h, "audio")) {
        if (!BuildAudio(h, size, t)) return false;
    } else if (ogm::TypeIs(h, "text")) {
        t->Clear();
        t->Init();
        t->SetType(MEDIATYPE_Text);
        *high = 20;
        *low = -1;
        return true;
    } else {
        return true; // no known type: left alone
    }
    SetQueueLimits(h, high, low);
    return true;
}

void BuildWaveFormatType(CAMMediaType* t, uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avgBytes, uint16_t bits,
                         const BYTE* extra, uint32_t extraBytes) {
    t->Clear();
    t->Init();
    t->SetType(MEDIATYPE_Audio);
    t->SetSubtype(GuidFromFourcc(tag));
    t->SetFormatType(FORMAT_WaveFormatEx);
    if (extraBytes > 0xFFFF) extraBytes = 0; // cbSize is 16 bits: a header that large is not carried
    BYTE* block = t->AllocFormatBuffer(18 + extraBytes);
    if (!block) return; // no memory: the type stays without its block
    std::memset(block, 0, 18);
    WriteLE16(block, tag);
    WriteLE16(block + 2, channels);
    WriteLE32(block + 4, rate);
    WriteLE32(block + 8, avgBytes);
    WriteLE16(block + 12, 1);
    WriteLE16(block + 14, bits);
    WriteLE16(block + 16, extraBytes);
    if (extraBytes) std::memcpy(block + 18, extra, extraBytes);
}

int MakeAlternativeType(CAMMediaType* t) {
    if (IsEqualGUID(t->majortype, MEDIATYPE_Audio) && IsEqualGUID(t->formattype, FORMAT_WaveFormatEx) &&
        (IsEqualGUID(t->subtype, MEDIASUBTYPE_MPEG1AudioPayload) || IsEqualGUID(t->subtype, MEDIASUBTYPE_MPEG1Payload) ||
         IsEqualGUID(t->subtype, MEDIASUBTYPE_MPEG2_AUDIO))) {
        t->lSampleSize = 1;
        if (t->cbFormat >= 14) WriteLE16(t->pbFormat + 12, 1); // block align of the WAVEFORMATEX
        return 0;
    }
    if (IsEqualGUID(t->majortype, MEDIATYPE_Video) && IsEqualGUID(t->formattype, FORMAT_VideoInfo2)) {
        if (t->cbFormat < 72) return 1; // too short to hold a VIDEOINFOHEADER2: nothing to convert
        ULONG newLength = t->cbFormat - 24;
        BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(newLength));
        if (!block) return 1;
        std::memcpy(block, t->pbFormat, 48);
        std::memcpy(block + 48, t->pbFormat + 72, t->cbFormat - 72);
        CoTaskMemFree(t->pbFormat);
        t->pbFormat = block;
        t->cbFormat = newLength;
        t->SetFormatType(FORMAT_VideoInfo);
        return 0;
    }
    return 1;
}
