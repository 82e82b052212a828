// DllRegisterServer and DllUnregisterServer: the class keys, their InprocServer32, and the handler entries
// (the Ogg extensions and MIME types), leaving a registration that belongs to another copy of the module
// alone. The shell property handler's entries are property_handler_registration.cpp's, the thumbnail
// provider's thumbnail_registration.cpp's.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "server.h"

namespace {
const char kFriendlyName[] = "KEST OGG Source ByteStreamHandler";
const char kHandlers[] = "Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers";
// The names the handler is registered for: the file extensions Ogg files carry and the MIME types hosts give
// a byte stream (the resolver looks both up under the handlers key). ".OGG" alone missed every .oga and .opus.
const char* const kNames[] = {".OGG", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx",
                              "audio/ogg", "video/ogg", "application/ogg", "audio/opus"};

HRESULT FromWin32(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

HRESULT SetString(HKEY key, LPCSTR name, LPCSTR value) {
    if (!value) return E_INVALIDARG;
    size_t n = std::strlen(value);
    if (n > 0x7FFFFFFF) return E_INVALIDARG;
    return FromWin32(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(n + 1)));
}

HRESULT ModulePath(char* path) {
    DWORD n = GetModuleFileNameA(g_hModule, path, MAX_PATH);
    if (n == 0) {
        LONG error = static_cast<LONG>(GetLastError());
        return error > 0 ? HRESULT_FROM_WIN32(error) : static_cast<HRESULT>(error);
    }
    return n == MAX_PATH ? E_FAIL : S_OK;
}

bool ReadFixedVersion(const char* path, DWORD* ms, DWORD* ls) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return false;
    BYTE* block = static_cast<BYTE*>(std::malloc(size));
    if (!block) return false;
    bool ok = false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoA(path, handle, size, block) &&
        VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &length) && info) {
        *ms = info->dwFileVersionMS;
        *ls = info->dwFileVersionLS;
        ok = true;
    }
    std::free(block);
    return ok;
}

// The path registered for our CLSID, if any: false when any step fails.
bool RegisteredPath(char* registered, size_t size) {
    LPOLESTR clsid = nullptr;
    if (FAILED(StringFromCLSID(CLSID_OGGByteStreamHandler, &clsid))) return false;
    char path[MAX_PATH];
    HRESULT hr = StringCchPrintfA(path, MAX_PATH, "\\CLSID\\%ls\\InprocServer32", clsid);
    CoTaskMemFree(clsid);
    HKEY key = nullptr;
    if (FAILED(hr) || RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    LONG cb = 0;
    bool ok = RegQueryValueA(key, nullptr, nullptr, &cb) == ERROR_SUCCESS && cb > 0 && static_cast<size_t>(cb) <= size &&
              RegQueryValueA(key, nullptr, registered, &cb) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

enum class Owner { Ours, Other, Newer };

// Whose registration is in place: ours (or none, or a broken one), another copy's, or a newer copy's.
Owner CheckOwner() {
    char registered[4096], mine[MAX_PATH];
    if (!RegisteredPath(registered, sizeof registered)) return Owner::Ours;
    if (GetFileAttributesA(registered) == INVALID_FILE_ATTRIBUTES) return Owner::Ours;
    if (GetModuleFileNameA(g_hModule, mine, MAX_PATH) == 0) return Owner::Ours;
    if (strcasecmp(registered, mine) == 0) return Owner::Ours;
    DWORD theirMs, theirLs, ourMs, ourLs;
    if (!ReadFixedVersion(registered, &theirMs, &theirLs) || !ReadFixedVersion(mine, &ourMs, &ourLs)) return Owner::Other;
    return theirMs > ourMs || (theirMs == ourMs && theirLs > ourLs) ? Owner::Newer : Owner::Other;
}

} // namespace

HRESULT RegisterInprocClass(REFCLSID rclsid, LPCSTR friendlyName) {
    WCHAR clsid[39];
    char path[MAX_PATH];
    if (StringFromGUID2(rclsid, clsid, 39) == 0) return E_INVALIDARG;
    HRESULT hr = StringCchPrintfA(path, MAX_PATH, "CLSID\\%ls", clsid);
    if (FAILED(hr)) return hr;
    HKEY key = nullptr, server = nullptr;
    hr = FromWin32(RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    if (SUCCEEDED(hr)) hr = SetString(key, nullptr, friendlyName);
    if (SUCCEEDED(hr))
        hr = FromWin32(RegCreateKeyExA(key, "InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server, nullptr));
    char module[MAX_PATH];
    if (SUCCEEDED(hr)) hr = ModulePath(module);
    if (SUCCEEDED(hr)) hr = SetString(server, nullptr, module);
    if (SUCCEEDED(hr)) hr = SetString(server, "ThreadingModel", "Both");
    if (server) RegCloseKey(server);
    if (key) RegCloseKey(key);
    return hr;
}

namespace {
HRESULT RegisterHandler() {
    WCHAR clsid[39];
    if (StringFromGUID2(CLSID_OGGByteStreamHandler, clsid, 39) == 0) return E_INVALIDARG;
    HKEY handlers = nullptr, extension = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kHandlers, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handlers, nullptr);
    if (handlers) RegCloseKey(handlers);
    handlers = nullptr;
    // The entries live under HKEY_CURRENT_USER; when that key cannot be made, registration fails with it.
    LONG error = RegCreateKeyExA(HKEY_CURRENT_USER, kHandlers, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handlers, nullptr);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    char name[64];
    HRESULT hr = WideCharToMultiByte(CP_THREAD_ACP, 0, clsid, -1, name, sizeof name, nullptr, nullptr) > 0
                     ? S_OK
                     : HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError()));
    for (const char* entry : kNames) {
        if (FAILED(hr)) break;
        hr = FromWin32(RegCreateKeyExA(handlers, entry, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &extension, nullptr));
        if (SUCCEEDED(hr)) hr = SetString(extension, name, kFriendlyName);
        if (extension) RegCloseKey(extension);
        extension = nullptr;
    }
    RegCloseKey(handlers);
    return hr;
}

// Whether the other build (32-bit beside 64-bit) has the class registered in its view of the classes. The
// handler entries are one set for both views (HKEY_CURRENT_USER\Software is not redirected), so they stay
// while the other build still uses them. With one view (the stand-in registry) this reads our own, just
// removed.
bool OtherViewRegistered(const char* classPath) {
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    char path[MAX_PATH];
    if (FAILED(StringCchPrintfA(path, MAX_PATH, "%s\\InprocServer32", classPath))) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ | otherView, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}
} // namespace

STDAPI DllRegisterServer() {
    if (CheckOwner() == Owner::Newer) return S_OK; // a newer copy is registered: left alone
    HRESULT hr = RegisterInprocClass(CLSID_OGGByteStreamHandler, kFriendlyName);
    if (SUCCEEDED(hr)) hr = RegisterHandler();
    if (SUCCEEDED(hr)) hr = RegisterPropertyHandler();
    if (SUCCEEDED(hr)) hr = RegisterThumbnailProvider();
    return hr;
}

STDAPI DllUnregisterServer() {
    if (CheckOwner() != Owner::Ours) return S_OK; // another copy's registration is not ours to remove
    WCHAR clsid[39];
    char path[MAX_PATH];
    StringFromGUID2(CLSID_OGGByteStreamHandler, clsid, 39);
    if (FAILED(StringCchPrintfA(path, MAX_PATH, "CLSID\\%ls", clsid))) return S_OK;
    RegDeleteTreeA(HKEY_CLASSES_ROOT, path);
    const bool otherView = OtherViewRegistered(path);
    UnregisterPropertyHandler(otherView);
    UnregisterThumbnailProvider();
    if (otherView) return S_OK; // the other build's handler entries (the same ones) stay
    // Exactly the values it wrote; the keys stay (another handler may be registered there too).
    char name[64];
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, clsid, -1, name, sizeof name, nullptr, nullptr) <= 0) return S_OK;
    for (const char* entry : kNames) {
        if (FAILED(StringCchPrintfA(path, MAX_PATH, "%s\\%s", kHandlers, entry))) continue;
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, path, name);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, path, name);
    }
    return S_OK;
}
