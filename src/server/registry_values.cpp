#include "registry_values.h"

#include <cstring>

HRESULT FromWin32(LONG error) {
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

bool ClassText(REFCLSID clsid, char (&text)[64]) {
    WCHAR wide[39];
    return StringFromGUID2(clsid, wide, 39) != 0 &&
           WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr) > 0;
}

bool ReadString(HKEY root, const char* subKey, const char* name, char* text, DWORD size) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, cb = size - 1;
    const bool ok =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &cb) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ);
    RegCloseKey(key);
    if (ok) text[cb] = '\0';
    return ok && text[0] != '\0';
}

LONG WriteString(HKEY root, const char* subKey, const char* name, const char* value) {
    HKEY key = nullptr;
    LONG error = RegCreateKeyExA(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS)
        error = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                               static_cast<DWORD>(std::strlen(value) + 1));
    if (key) RegCloseKey(key);
    return error;
}

void RemoveIfOurs(HKEY root, const char* subKey, const char* name, const char* value) {
    char text[1024];
    if (!ReadString(root, subKey, name, text, sizeof text) || std::strcmp(text, value) != 0) return;
    RegDeleteKeyValueA(root, subKey, name);
    RemoveIfEmpty(root, subKey);
}

void RemoveIfEmpty(HKEY root, const char* subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    char entry[256];
    DWORD n = sizeof entry;
    bool empty = RegEnumValueA(key, 0, entry, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
    n = sizeof entry;
    empty =
        empty && RegEnumKeyExA(key, 0, entry, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
    RegCloseKey(key);
    if (empty) RegDeleteTreeA(root, subKey);
}
