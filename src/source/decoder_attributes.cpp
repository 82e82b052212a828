#include "decoder_attributes.h"

#include <cstring>

#include "oggsource.h"

namespace {
// MF_MT_AUDIO_FLAC_MAX_BLOCK_SIZE, which the SDK's mfapi.h names under "FLAC extra data" and mingw-w64's
// lacks.
constexpr GUID kFlacMaxBlockSize = {
    0x8b81adae, 0x4b5a, 0x4d40, {0x80, 0x22, 0xf3, 0x8d, 0x09, 0xca, 0x3c, 0x5c}};
constexpr UINT32 kFlacStreamHeader = 42; // "fLaC", the block header and the 34 bytes of STREAMINFO
} // namespace

HRESULT AddDecoderAttributes(IMFMediaType* type) {
    GUID subtype = GUID_NULL;
    if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || !IsEqualGUID(subtype, MEDIASUBTYPE_OggFLAC))
        return S_OK;
    UINT8 header[kFlacStreamHeader];
    UINT32 size = 0;
    if (FAILED(type->GetBlob(MF_MT_USER_DATA, header, sizeof header, &size)) || size != sizeof header ||
        std::memcmp(header, "fLaC", 4) != 0)
        return S_OK; // no stream header (no memory for it when the stream was read): nothing to read it from
    // The SDK lists it among FLAC's type attributes: the largest frame in samples, STREAMINFO's maximum block
    // size.
    return type->SetUINT32(kFlacMaxBlockSize, static_cast<UINT32>(header[10] << 8 | header[11]));
}
