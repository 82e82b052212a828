// Reading and writing the registry store as the registration tests look at it: string values by key path.
#pragma once
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "platform/platform.h"

namespace regtest {
// A string value; "<none>" when the key or the value is not there.
inline std::string Read(HKEY root, const std::string& key, const char* name) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<none>";
    char text[1024];
    DWORD cb = sizeof text;
    const LONG error = RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb);
    RegCloseKey(k);
    return error == ERROR_SUCCESS ? std::string(text) : "<none>";
}

inline bool KeyExists(HKEY root, const std::string& key) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

inline void Write(HKEY root, const std::string& key, const char* name, const char* value) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(k);
}
} // namespace regtest
