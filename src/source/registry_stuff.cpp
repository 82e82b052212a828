#include "registry_stuff.h"

#include <cstdio>
#include <cstdlib>

HKEY CRegistryStuff::OpenDefaultsKey() {
    WCHAR clsid[39];
    if (StringFromGUID2(*m_pClsid, clsid, 39) == 0) return nullptr;
    char path[MAX_PATH + 1024]; // the GUID text is 38 characters; room to spare for the compiler
    std::snprintf(path, sizeof path, "CLSID\\%ls\\Defaults", clsid);
    HKEY key = nullptr;
    char emptyClass[] = "";
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, emptyClass, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

void CRegistryStuff::ReadFourccMap(CFourccMap* map) {
    HKEY settings = OpenDefaultsKey(); // created empty when missing
    if (!settings) return;
    HKEY mapping = nullptr;
    if (RegOpenKeyExA(settings, "FOURCC Mapping", 0, KEY_READ, &mapping) == ERROR_SUCCESS) {
        for (DWORD i = 0; i < static_cast<DWORD>(CFourccMap::kMaxEntries); ++i) {
            char name[64];
            DWORD cch = sizeof name, type = 0, cb = 4;
            BYTE data[4] = {};
            const LONG r = RegEnumValueA(mapping, i, name, &cch, nullptr, &type, data, &cb);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r != ERROR_SUCCESS || cb != 4) continue; // a name too long, or data that is no DWORD
            char* end = nullptr;
            const unsigned long from = std::strtoul(name, &end, 16);
            if (end == name || *end != 0) continue;
            map->Add(static_cast<uint32_t>(from), static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24));
        }
        RegCloseKey(mapping);
    }
    RegCloseKey(settings);
}

uint32_t CRegistryStuff::MapFourcc(uint32_t fourcc) {
    CFourccMap map;
    ReadFourccMap(&map);
    return map.Map(fourcc);
}
