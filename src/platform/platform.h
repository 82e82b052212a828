// The one header the rest of the code includes for COM, Media Foundation and the registry: on Windows the
// SDK itself, elsewhere the stand-in in this folder.
#pragma once
#ifdef _WIN32
#include "platform/windows/sdk.h"
#else
#include "platform/com.h"
#include "platform/dshow.h"
#include "platform/mfapi.h"
#include "platform/mfobjects.h"
#include "platform/winreg.h"
#include "platform/kernel.h"
#include "platform/mfidl.h"
#include "platform/propkey.h"
#include "platform/propvarutil.h"
#include "platform/mfreadwrite.h"
#include "platform/module.h"
#endif
