// The source's settings key and the FOURCC mapping read from it.
#pragma once
#include "ogg/fourcc_map.h"
#include "platform/platform.h"

// {6E1B0C3A-5D27-4F62-9A1E-0B7C4D2F8E91}: where the source's settings live; never a creatable class.
PLAT_GUID(CLSID_OGGSourceDefaults, 0x6e1b0c3a, 0x5d27, 0x4f62, 0x9a, 0x1e, 0x0b, 0x7c, 0x4d, 0x2f, 0x8e, 0x91);

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
