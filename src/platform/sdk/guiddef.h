/* The stand-in's guiddef.h: the GUID structure and DEFINE_GUID, for C and C++, so that a header written for
 * the Windows SDK (include/oggsource.h) compiles here too. In C++ a DEFINE_GUID is one inline constant for
 * every translation unit, as the stand-in's own GUIDs are; in C it is a declaration, and a definition where
 * INITGUID is defined (include <initguid.h> first in one source file), as on Windows. */
#ifndef PLAT_GUIDDEF_H
#define PLAT_GUIDDEF_H
#include <stdint.h>

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
#endif

#undef DEFINE_GUID
#if defined(__cplusplus)
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                                         \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#elif defined(INITGUID)
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                                         \
    const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) extern const GUID name
#endif
