// Media Foundation types from the DirectShow types the streams are described with.
#pragma once
#include "platform/platform.h"
#include "support/am_media_type.h"

// The platform's MFInitMediaTypeFromAMMediaType when it keeps the major type and gives a subtype (the
// format type added when it lacks one), else BuildMediaTypeFromAM. Some hosts' Media Foundation converts
// only part of the types (Wine 8: VIDEOINFOHEADER video only, and FOURCC subtypes left null): the source
// must still announce every stream. Then what decoders read beyond the block (AddDecoderAttributes).
HRESULT InitMediaTypeFromAM(IMFMediaType* type, const AM_MEDIA_TYPE* am);

// The module's own conversion: major type, subtype, sample flags and size, format type, and what the
// format block says (audio and video fields, the extra bytes after the header as MF_MT_USER_DATA; the
// whole block for a format type Media Foundation has no fields for).
HRESULT BuildMediaTypeFromAM(IMFMediaType* type, const AM_MEDIA_TYPE* am);

// A stream's two Media Foundation types from its record: types[0] the record's own, types[1] its alternative
// (the same again where none applies). The caller releases both, also on failure.
HRESULT CreateStreamTypes(const CAMMediaType& record, IMFMediaType* types[2]);
