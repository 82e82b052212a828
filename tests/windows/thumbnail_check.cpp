// thumbnail_check.exe FILE: the thumbnail provider's lifetime rules on Windows, made by class from the
// registered module as the shell makes it. Prints one JSON object: per check the HRESULT it gave ("0x%08X"),
// and whether the module could unload while the provider was held and after it was released. The Windows
// leg's test compares them with the rules (docs/behaviour.md, "the thumbnail provider").
#include <cstdio>
#include <string>
#include <thumbcache.h>

#include "oggsource.h"
#include "platform/platform.h"

namespace {
std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// The module's own answer to DllCanUnloadNow (S_OK: no object of it is alive).
HRESULT CanUnload() {
    HMODULE module = GetModuleHandleA("oggsource.dll");
    auto entry = module ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                              reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")))
                        : nullptr;
    return entry ? entry() : E_FAIL;
}

void Checks(const wchar_t* path) {
    IThumbnailProvider* provider = nullptr;
    IInitializeWithStream* init = nullptr;
    IStream* file = nullptr;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    // mingw-w64 declares the interface with its ID (__uuidof) but no IID_IThumbnailProvider symbol to link.
    HRESULT hr = CoCreateInstance(CLSID_OGGThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider));
    std::printf("{\"create\": \"%s\"", Hex(hr).c_str());
    if (FAILED(hr)) {
        std::printf("}\n");
        return;
    }
    std::printf(", \"held_can_unload\": \"%s\"", Hex(CanUnload()).c_str());
    std::printf(", \"before_initialize\": \"%s\"", Hex(provider->GetThumbnail(256, &bitmap, &alpha)).c_str());
    std::printf(", \"bitmap_before\": %s", bitmap ? "true" : "false");
    provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
    std::printf(", \"initialize_null\": \"%s\"",
                Hex(init ? init->Initialize(nullptr, STGM_READ) : E_NOINTERFACE).c_str());
    SHCreateStreamOnFileEx(path, STGM_READ, 0, FALSE, nullptr, &file);
    std::printf(", \"initialize\": \"%s\"",
                Hex(init && file ? init->Initialize(file, STGM_READ) : E_FAIL).c_str());
    std::printf(", \"initialize_again\": \"%s\"",
                Hex(init && file ? init->Initialize(file, STGM_READ) : E_FAIL).c_str());
    std::printf(", \"null_bitmap\": \"%s\"", Hex(provider->GetThumbnail(256, nullptr, &alpha)).c_str());
    std::printf(", \"size_zero\": \"%s\"", Hex(provider->GetThumbnail(0, &bitmap, &alpha)).c_str());
    hr = provider->GetThumbnail(64, &bitmap, &alpha);
    std::printf(", \"thumbnail\": \"%s\"", Hex(hr).c_str());
    if (bitmap) DeleteObject(bitmap);
    if (file) file->Release();
    if (init) init->Release();
    provider->Release();
    std::printf(", \"released_can_unload\": \"%s\"}\n", Hex(CanUnload()).c_str());
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: thumbnail_check FILE\n");
        return 2;
    }
    std::wstring path(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Checks(path.c_str());
    CoUninitialize();
    return 0;
}
