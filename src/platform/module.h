// Module services: loading modules, their own file names, file attributes and file versions, the ANSI
// conversion, bounded printing, and the thread's last error.
#pragma once
#include "com.h"

struct ModuleTag;
typedef ModuleTag* HMODULE;
typedef HMODULE HINSTANCE;
typedef void (*FARPROC)();

constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr UINT CP_ACP = 0;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;
constexpr LONG ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;

struct VS_FIXEDFILEINFO {
    DWORD dwSignature; // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

// The version record a module carries in a section of its own, read from the file without loading it.
struct PlatVersionRecord {
    char magic[16];
    DWORD fileVersionMS;
    DWORD fileVersionLS;
};
#define PLAT_VERSION_MAGIC "\x7fOGGSRC-VERSION"
// Where a module keeps its version record: a section of its own, kept by the linker even though nothing refers to it.
#define PLAT_VERSION_SECTION __attribute__((used, section(".oggsrc_version")))

// The loader calls a module's DllMain on Windows; here a constructor calls it, with the module that holds it.
#define PLAT_MODULE_ENTRY(dllMain)                                                                          \
    namespace {                                                                                             \
    __attribute__((constructor)) void PlatModuleLoaded() {                                                  \
        dllMain(PlatModuleOf(reinterpret_cast<const void*>(&PlatModuleLoaded)), DLL_PROCESS_ATTACH, nullptr); \
    }                                                                                                       \
    }

extern "C" {
DWORD GetLastError();
void SetLastError(DWORD error);
// The module that contains an address (what the loader hands DllMain on Windows).
HMODULE PlatModuleOf(const void* address);
DWORD GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size);
DWORD GetFileAttributesA(LPCSTR path);
DWORD GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD length, LPVOID data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWide, LPSTR multi, int cbMulti,
                        LPCSTR defaultChar, BOOL* usedDefault);
// UTF-8 (the code page of every locale the stand-in runs under) to wide text; a byte that does not begin or
// continue a sequence becomes U+FFFD. cchWide 0 asks for the length.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int cbMulti, LPWSTR wide, int cchWide);
HMODULE LoadLibraryA(LPCSTR path);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// A module already loaded into the process, by file name; null when it is not (nothing is loaded here).
HMODULE GetModuleHandleA(LPCSTR name);
BOOL FreeLibrary(HMODULE module);
// StringCchPrintfA: STRSAFE_E_INSUFFICIENT_BUFFER when the text does not fit (it is cut), E_INVALIDARG
// for a size of 0 or above 0x7FFFFFFF.
HRESULT StringCchPrintfA(LPSTR dest, size_t cchDest, LPCSTR format, ...) PLAT_PRINTF_FORMAT(3, 4);
// Unloads every module loaded through the resolver whose DllCanUnloadNow says S_OK.
void CoFreeUnusedLibraries();
}
