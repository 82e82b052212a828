// Media Foundation types from the DirectShow types the streams are described with.
#pragma once
#include "platform/platform.h"

// The platform's MFInitMediaTypeFromAMMediaType when it gives a complete type (major type, subtype and
// format type set), else BuildMediaTypeFromAM. Some hosts' Media Foundation converts only part of the
// types (no audio at all, video without a subtype): the source must still announce every stream.
HRESULT InitMediaTypeFromAM(IMFMediaType* type, const AM_MEDIA_TYPE* am);

// The module's own conversion: major type, subtype, sample flags and size, format type, and what the
// format block says (audio and video fields, the extra bytes after the header as MF_MT_USER_DATA; the
// whole block for a format type Media Foundation has no fields for).
HRESULT BuildMediaTypeFromAM(IMFMediaType* type, const AM_MEDIA_TYPE* am);
