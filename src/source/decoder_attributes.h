// What Windows' decoders read on their input type beyond what the DirectShow format block converts to.
#pragma once
#include "platform/platform.h"

// Adds them to a type made from a DirectShow record (FLAC: its largest block size); S_OK when none applies.
HRESULT AddDecoderAttributes(IMFMediaType* type);
