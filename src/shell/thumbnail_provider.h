// The thumbnail provider: the cover art Explorer shows for an Ogg file. The shell hands it a stream over the
// file (IInitializeWithStream); it reads the headers through the core as the property handler does and keeps
// a copy of the cover's image; IThumbnailProvider::GetThumbnail decodes it with WIC. Windows only.
#pragma once
#include "platform/platform.h"

HRESULT CreateThumbnailProvider(IUnknown* outer, REFIID riid, void** ppv);
