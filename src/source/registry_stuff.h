// The source's settings key and the FOURCC mapping read from it.
#pragma once
#include "ogg/fourcc_map.h"
#include "platform/platform.h"

#include "oggsource.h" // CLSID_OGGSourceDefaults: where the source's settings live; never a creatable class

class CRegistryStuff {
public:
    CRegistryStuff() : m_pClsid(&CLSID_OGGSourceDefaults) {}
    // HKEY_CLASSES_ROOT\CLSID\{...}\Defaults, created when missing; null on failure. Closed by the caller.
    HKEY OpenDefaultsKey();
    // The "FOURCC Mapping" key's entries (value name "0x%08x" of the FOURCC, data the one it maps to, a DWORD),
    // what the core is handed at the open.
    void ReadFourccMap(CFourccMap* map);
    // Follows the chain from fourcc; fourcc itself when nothing maps it.
    uint32_t MapFourcc(uint32_t fourcc);

protected:
    const CLSID* m_pClsid;
};
