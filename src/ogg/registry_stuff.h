// The source's settings key and the FOURCC mapping read from it.
#pragma once
#include "platform/platform.h"

#include "oggsource.h" // CLSID_OGGSourceDefaults: where the source's settings live; never a creatable class

class CRegistryStuff {
public:
    CRegistryStuff() : m_pClsid(&CLSID_OGGSourceDefaults) {}
    // HKEY_CLASSES_ROOT\CLSID\{...}\Defaults, created when missing; null on failure. Closed by the caller.
    HKEY OpenDefaultsKey();
    // Follows the "FOURCC Mapping" chain from fourcc; fourcc itself when nothing maps it.
    uint32_t MapFourcc(uint32_t fourcc);

protected:
    const CLSID* m_pClsid;
};
