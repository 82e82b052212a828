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

namespace {
// How many values the key holds: the longest chain that can be walked without repeating an entry.
DWORD ValueCount(HKEY key) {
    DWORD n = 0;
    char name[64];
    for (;; ++n) {
        DWORD cch = sizeof name;
        LONG r = RegEnumValueA(key, n, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) return n;
    }
}
} // namespace

uint32_t CRegistryStuff::MapFourcc(uint32_t fourcc) {
    HKEY settings = OpenDefaultsKey();
    if (!settings) return fourcc;
    HKEY mapping = nullptr;
    if (RegOpenKeyExA(settings, "FOURCC Mapping", 0, KEY_READ, &mapping) != ERROR_SUCCESS) {
        RegCloseKey(settings);
        return fourcc;
    }
    char name[16];
    std::snprintf(name, sizeof name, "0x%08x", fourcc);
    uint32_t value = fourcc, result = fourcc;
    // A chain that cycles without coming back to the start would not end: it is walked at most once per
    // value of the key, and then the last FOURCC reached is the answer.
    for (DWORD steps = ValueCount(mapping) + 1; steps > 0; --steps) {
        BYTE data[4] = {};
        DWORD cb = sizeof data;
        if (RegQueryValueExA(mapping, name, nullptr, nullptr, data, &cb) != ERROR_SUCCESS) {
            result = value;
            break;
        }
        uint32_t next = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
        if (next == fourcc) {
            result = static_cast<uint32_t>(std::strtoul(name, nullptr, 16));
            break;
        }
        value = result = next;
        std::snprintf(name, sizeof name, "0x%08x", value);
    }
    RegCloseKey(mapping);
    RegCloseKey(settings);
    return result;
}
