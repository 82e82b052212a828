// The shell property handler: what Explorer's columns, details pane and tips show of an Ogg file. The shell
// hands it a stream over the file (IInitializeWithStream); it reads the headers and the end of the file
// through the core, without starting Media Foundation, and answers the same property keys as the source's
// property store for the file's first link. Read only.
#pragma once
#include "platform/platform.h"

HRESULT CreateShellPropertyHandler(IUnknown* outer, REFIID riid, void** ppv);
