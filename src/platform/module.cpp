#include "module.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <link.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
thread_local DWORD t_lastError = 0;

DWORD ErrnoToWin32(int e) {
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
    }
}

struct Search {
    uintptr_t base;
    std::string name;
};

int FindByBase(struct dl_phdr_info* info, size_t, void* data) {
    auto* s = static_cast<Search*>(data);
    if (info->dlpi_addr != s->base) return 0;
    s->name = info->dlpi_name ? info->dlpi_name : "";
    return 1;
}

// The fixed file information of a module file: the version record found in its bytes.
bool ReadVersion(LPCSTR path, VS_FIXEDFILEINFO* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t magicLength = sizeof(PLAT_VERSION_MAGIC) - 1;
    for (size_t at = 0; at + sizeof(PlatVersionRecord) <= bytes.size(); ++at) {
        if (std::memcmp(&bytes[at], PLAT_VERSION_MAGIC, magicLength) != 0) continue;
        PlatVersionRecord record;
        std::memcpy(&record, &bytes[at], sizeof record);
        std::memset(out, 0, sizeof *out);
        out->dwSignature = 0xFEEF04BD;
        out->dwStrucVersion = 0x00010000;
        out->dwFileVersionMS = out->dwProductVersionMS = record.fileVersionMS;
        out->dwFileVersionLS = out->dwProductVersionLS = record.fileVersionLS;
        out->dwFileType = 2; // a DLL
        return true;
    }
    return false;
}
} // namespace

extern "C" DWORD GetLastError() { return t_lastError; }
extern "C" void SetLastError(DWORD error) { t_lastError = error; }

extern "C" HMODULE PlatModuleOf(const void* address) {
    Dl_info info;
    if (!dladdr(address, &info)) return nullptr;
    return reinterpret_cast<HMODULE>(info.dli_fbase);
}

extern "C" DWORD GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size) {
    std::string path;
    if (!module) {
        path = "/proc/self/exe";
    } else {
        Dl_info info;
        if (dladdr(module, &info) && info.dli_fname) path = info.dli_fname;
        Search s{reinterpret_cast<uintptr_t>(module), ""};
        dl_iterate_phdr(FindByBase, &s);
        if (!s.name.empty()) path = s.name;
    }
    char resolved[PATH_MAX];
    if (path.empty() || !realpath(path.c_str(), resolved)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!name || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t n = std::strlen(resolved);
    if (n >= size) { // cut, terminated, and the full size returned as Windows does
        std::memcpy(name, resolved, size - 1);
        name[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(name, resolved, n + 1);
    return static_cast<DWORD>(n);
}

extern "C" DWORD GetFileAttributesA(LPCSTR path) {
    struct stat st;
    if (!path || stat(path, &st) != 0) {
        SetLastError(path ? ErrnoToWin32(errno) : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

extern "C" DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
    if (handle) *handle = 0;
    VS_FIXEDFILEINFO info;
    if (!path || !ReadVersion(path, &info)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    return sizeof(VS_FIXEDFILEINFO);
}

extern "C" BOOL GetFileVersionInfoA(LPCSTR path, DWORD, DWORD length, LPVOID data) {
    VS_FIXEDFILEINFO info;
    if (!path || !data || length < sizeof info || !ReadVersion(path, &info)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return FALSE;
    }
    std::memcpy(data, &info, sizeof info);
    return TRUE;
}

extern "C" BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length) {
    if (!block || !subBlock || !buffer || std::strcmp(subBlock, "\\") != 0) return FALSE;
    *buffer = const_cast<void*>(block);
    if (length) *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}

namespace {
// The code point of the UTF-8 sequence at text[*i] (advancing *i past it); U+FFFD for a malformed one.
uint32_t DecodeUtf8(const unsigned char* text, size_t n, size_t* i) {
    const unsigned char lead = text[(*i)++];
    const int more = lead < 0x80 ? 0 : lead >= 0xF0 && lead < 0xF8 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
    if (more < 0) return 0xFFFD;
    uint32_t c = more == 0 ? lead : lead & (0x3F >> more);
    for (int k = 0; k < more; ++k) {
        if (*i >= n || (text[*i] & 0xC0) != 0x80) return 0xFFFD;
        c = c << 6 | (text[(*i)++] & 0x3F);
    }
    return c;
}
} // namespace

extern "C" int MultiByteToWideChar(UINT, DWORD, LPCSTR multi, int cbMulti, LPWSTR wide, int cchWide) {
    if (!multi) return 0;
    const auto* text = reinterpret_cast<const unsigned char*>(multi);
    const size_t n = cbMulti < 0 ? std::strlen(multi) + 1 : static_cast<size_t>(cbMulti);
    std::wstring out;
    for (size_t i = 0; i < n;) out += static_cast<wchar_t>(DecodeUtf8(text, n, &i));
    if (cchWide == 0) return static_cast<int>(out.size());
    if (!wide || static_cast<size_t>(cchWide) < out.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(wide, out.data(), out.size() * sizeof(wchar_t));
    return static_cast<int>(out.size());
}

extern "C" int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int cchWide, LPSTR multi, int cbMulti, LPCSTR,
                                   BOOL* usedDefault) {
    if (!wide) return 0;
    std::string out;
    size_t n = cchWide < 0 ? std::wcslen(wide) + 1 : static_cast<size_t>(cchWide);
    for (size_t i = 0; i < n; ++i) { // UTF-8, the code page of every locale we run under
        uint32_t c = static_cast<uint32_t>(wide[i]);
        if (c < 0x80) out += static_cast<char>(c);
        else if (c < 0x800) out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
        else if (c < 0x10000)
            out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        else
            out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                    static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
    if (usedDefault) *usedDefault = FALSE;
    if (cbMulti == 0) return static_cast<int>(out.size());
    if (!multi || static_cast<size_t>(cbMulti) < out.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(multi, out.data(), out.size());
    return static_cast<int>(out.size());
}

extern "C" HMODULE LoadLibraryA(LPCSTR path) {
    // Modules stay mapped after FreeLibrary: the codec libraries they pull in keep caches that must not
    // lose their code under them; whether a module may be unloaded is still decided as on Windows.
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    void* p = module && name ? dlsym(module, name) : nullptr;
    if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(p);
}

extern "C" HMODULE GetModuleHandleA(LPCSTR name) {
    void* handle = name ? dlopen(name, RTLD_NOW | RTLD_NOLOAD) : nullptr;
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    dlclose(handle); // no reference is kept, as on Windows
    return static_cast<HMODULE>(handle);
}

extern "C" BOOL FreeLibrary(HMODULE module) { return module && dlclose(module) == 0; }

extern "C" HRESULT StringCchPrintfA(LPSTR dest, size_t cchDest, LPCSTR format, ...) {
    if (cchDest == 0 || cchDest > 0x7FFFFFFF) return E_INVALIDARG;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(dest, cchDest, format, args);
    va_end(args);
    if (n < 0) {
        dest[0] = 0;
        return E_INVALIDARG;
    }
    return static_cast<size_t>(n) >= cchDest ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}
