// On Windows the platform is the system itself: the SDK's own headers, plus the few declarations the
// mingw-w64 headers lack and the helpers the rest of the code shares with the Linux build.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define STRSAFE_NO_DEPRECATE
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <winver.h>
#include <mmreg.h>
#include <strmif.h>
#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mferror.h>
#include <cstdint>

#include "platform/windows/byte_stream_handler.h"
#include "platform/windows/sample_grabber.h"

// A GUID the SDK does not name, defined once for every translation unit that sees it.
#define PLAT_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                                           \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

// A subtype built from a FOURCC: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
inline constexpr GUID GuidFromFourcc(uint32_t fourcc) {
    return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

#include "platform/windows/property_sdk.h"
// printf-style arguments checked against their format, where the compiler can.
#if defined(__GNUC__)
#define PLAT_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PLAT_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// The loader calls DllMain itself; the module's entry points leave the DLL through its .def file.
#define PLAT_MODULE_ENTRY(dllMain)

// Thread names are a debugging aid that the Linux stand-in shows (the tests count reader threads by name).
inline void PlatNameThisThread(const char*) {}

// Where registration writes: the system's registry.
inline const char* PlatRegistryPath() { return "the system registry"; }

// The stand-in's network byte stream tells why it failed; the system's says nothing more than its HRESULT.
inline size_t PlatLastNetworkError(char* text, size_t size) {
    if (text && size) *text = 0;
    return 0;
}
PLAT_GUID(PLAT_BYTESTREAM_LAST_ERROR, 0xb8874293, 0x602a, 0x42b5, 0x9d, 0x74, 0x54, 0x64, 0xc9, 0x93, 0x1a, 0xe7);

// The name of a known HRESULT ("MF_E_SHUTDOWN"), or null: the hosts' own table.
extern "C" const char* PlatHResultName(HRESULT hr);
