// oggsource thumbnail (Windows): what Explorer's thumbnail cache gets for a file. The thumbnail provider is
// made by class (CLSID_OGGThumbnailProvider, from the registered module) in a COM apartment, as the shell
// makes it, handed a stream over the file, and asked for a bitmap of --size pixels. The bitmap is described
// in one JSON line and its pixels are written as they are: top-down rows of 32-bit BGRA, width * 4 bytes
// each.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thumbcache.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "host.h"
#include "oggsource.h"

namespace {
struct Request {
    std::string file, out;
    UINT size = 256; // Explorer's "extra large icons"
};

int Usage(const char* why) {
    std::fprintf(stderr, "oggsource thumbnail: %s\nusage: oggsource thumbnail [--size N] [--out FILE] FILE\n",
                 why);
    return 2;
}

HRESULT Provider(const std::string& path, IThumbnailProvider** provider) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
    PlatRef<IStream> file;
    PlatRef<IInitializeWithStream> init;
    HRESULT hr = SHCreateStreamOnFileEx(wide.c_str(), STGM_READ, 0, FALSE, nullptr, &file);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_OGGThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
    if (SUCCEEDED(hr)) hr = init->Initialize(file.Get(), STGM_READ);
    // mingw-w64 declares the interface with its ID (__uuidof) but no IID_IThumbnailProvider symbol to link.
    if (SUCCEEDED(hr))
        hr = init->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(provider));
    return hr;
}

// The bitmap as GDI tells it (a DIB section; GDI gives its height as positive whichever way its rows run),
// and its pixels written to `out` in memory order: the provider makes the first row the top one.
HRESULT Describe(HBITMAP bitmap, WTS_ALPHATYPE alpha, const std::string& out, nlohmann::json* j) {
    DIBSECTION dib = {};
    if (GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib || !dib.dsBm.bmBits) return E_INVALIDARG;
    *j = {{"width", dib.dsBm.bmWidth},
          {"height", dib.dsBm.bmHeight},
          {"bits_per_pixel", dib.dsBm.bmBitsPixel},
          {"alpha", alpha == WTSAT_ARGB  ? "WTSAT_ARGB"
                    : alpha == WTSAT_RGB ? "WTSAT_RGB"
                                         : "WTSAT_UNKNOWN"}};
    if (out.empty()) return S_OK;
    FILE* f = std::fopen(out.c_str(), "wb");
    if (!f) return E_ACCESSDENIED;
    const size_t bytes = static_cast<size_t>(dib.dsBm.bmWidthBytes) * static_cast<size_t>(dib.dsBm.bmHeight);
    const bool written = std::fwrite(dib.dsBm.bmBits, 1, bytes, f) == bytes;
    return std::fclose(f) == 0 && written ? S_OK : E_FAIL;
}

int Run(const Request& r) {
    PlatRef<IThumbnailProvider> provider;
    HRESULT hr = Provider(r.file, &provider);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (SUCCEEDED(hr)) hr = provider->GetThumbnail(r.size, &bitmap, &alpha);
    nlohmann::json j;
    if (SUCCEEDED(hr)) hr = Describe(bitmap, alpha, r.out, &j);
    if (bitmap) DeleteObject(bitmap);
    if (FAILED(hr)) {
        j = {{"error", host::HResultText(hr)}, {"bitmap", bitmap != nullptr}};
        std::fprintf(stderr, "%s: no thumbnail (%s)\n", r.file.c_str(), host::HResultText(hr).c_str());
    }
    std::printf("%s\n", j.dump().c_str());
    return FAILED(hr) ? 1 : 0;
}
} // namespace

int ThumbnailCommand(const std::vector<std::string>& args) {
    Request r;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--size" && i + 1 < args.size()) {
            const long n = std::strtol(args[++i].c_str(), nullptr, 10);
            if (n <= 0 || n > 65536) return Usage("--size takes a number of pixels from 1 to 65536");
            r.size = static_cast<UINT>(n);
        } else if (args[i] == "--out" && i + 1 < args.size()) {
            r.out = args[++i];
        } else if (!args[i].empty() && args[i][0] == '-') {
            return Usage(("unknown option " + args[i]).c_str());
        } else if (r.file.empty()) {
            r.file = args[i];
        } else {
            return Usage("one file");
        }
    }
    if (r.file.empty()) return Usage("a file is needed");
    // The shell's thread: a single-threaded apartment (the provider is registered ThreadingModel Both).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int rc = Run(r);
    if (SUCCEEDED(com)) CoUninitialize();
    return rc;
}
