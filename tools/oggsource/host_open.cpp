// Opening files as a host does, and calling a module's entry points.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "host.h"
#include "oggsource.h" // the public header: what any host of the module would include
#include "unseekable_stream.h"

namespace host {

std::string HResultText(HRESULT hr) {
    char buf[64];
    const char* name = PlatHResultName(hr);
    if (name) std::snprintf(buf, sizeof buf, "%s (0x%08X)", name, static_cast<unsigned>(hr));
    else std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

namespace {
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Hosts open by content, as players do: a misnamed Ogg file still finds the Ogg handler.
constexpr DWORD kOpenFlags = MF_RESOLUTION_MEDIASOURCE | MF_RESOLUTION_CONTENT_DOES_NOT_HAVE_TO_MATCH_EXTENSION_OR_MIME_TYPE;

HRESULT AsSource(HRESULT hr, MF_OBJECT_TYPE type, IUnknown* object, IMFMediaSource** source) {
    if (FAILED(hr)) return hr;
    if (type != MF_OBJECT_MEDIASOURCE || !object) return E_UNEXPECTED;
    return object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(source));
}
} // namespace

HRESULT OpenByteStream(IMFByteStream* stream, IMFMediaSource** source, const std::string& url) {
    *source = nullptr;
    PlatRef<IMFSourceResolver> resolver;
    HRESULT hr = MFCreateSourceResolver(&resolver);
    if (FAILED(hr)) return hr;
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    PlatRef<IUnknown> object;
    hr = resolver->CreateObjectFromByteStream(stream, Wide(url).c_str(), kOpenFlags, nullptr, &type,
                                              &object);
    return AsSource(hr, type, object.Get(), source);
}

namespace {
// The path without its file's extension: what a pipe or a stream of unknown kind would be named.
std::string WithoutExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.'), slash = path.find_last_of("/\\");
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path
                                                                                   : path.substr(0, dot);
}
} // namespace

HRESULT OpenUnseekable(const std::string& path, const std::string& contentType, IMFMediaSource** source,
                       IMFByteStream** made) {
    *source = nullptr;
    if (made) *made = nullptr;
    PlatRef<IMFByteStream> stream;
    PlatRef<IMFSourceResolver> resolver;
    HRESULT hr = CreateUnseekableStream(path, contentType, &stream);
    if (SUCCEEDED(hr)) hr = MFCreateSourceResolver(&resolver);
    if (FAILED(hr)) return hr;
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    PlatRef<IUnknown> object;
    // Chosen: no MF_RESOLUTION_CONTENT_DOES_NOT_HAVE_TO_MATCH_EXTENSION_OR_MIME_TYPE here, so that the
    // handler is found by the stream's MIME type or not at all (with it, a resolver may try every handler it
    // knows).
    hr = resolver->CreateObjectFromByteStream(stream.Get(), Wide(WithoutExtension(path)).c_str(),
                                              MF_RESOLUTION_MEDIASOURCE, nullptr, &type, &object);
    hr = AsSource(hr, type, object.Get(), source);
    if (SUCCEEDED(hr) && made) *made = stream.Detach();
    return hr;
}

bool IsUrl(const std::string& name) {
    auto starts = [&](const char* scheme) {
        const size_t n = std::strlen(scheme);
        if (name.size() <= n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(name[i])) != scheme[i]) return false;
        return true;
    };
    return starts("http://") || starts("https://");
}

HRESULT OpenUrl(const std::string& url, IMFMediaSource** source, IMFByteStream** stream) {
    *source = nullptr;
    *stream = nullptr;
    PlatRef<IMFSourceResolver> resolver;
    HRESULT hr = MFCreateSourceResolver(&resolver);
    if (FAILED(hr)) return hr;
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    PlatRef<IUnknown> object;
    hr = resolver->CreateObjectFromURL(Wide(url).c_str(), MF_RESOLUTION_BYTESTREAM, nullptr, &type, &object);
    if (SUCCEEDED(hr) && (type != MF_OBJECT_BYTESTREAM || !object)) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) hr = object->QueryInterface(IID_IMFByteStream, reinterpret_cast<void**>(stream));
    if (FAILED(hr)) return hr;
    hr = OpenByteStream(*stream, source, url);
    if (FAILED(hr)) {
        (*stream)->Release();
        *stream = nullptr;
    }
    return hr;
}

std::string NetworkErrorText(IMFByteStream* stream) {
    PlatRef<IMFAttributes> attributes;
    LPWSTR text = nullptr;
    UINT32 length = 0;
    if (stream && SUCCEEDED(stream->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes))) &&
        SUCCEEDED(attributes->GetAllocatedString(PLAT_BYTESTREAM_LAST_ERROR, &text, &length))) {
        std::string narrow;
        for (UINT32 i = 0; i < length; ++i) narrow += static_cast<char>(text[i] < 0x80 ? text[i] : '?');
        CoTaskMemFree(text);
        return narrow;
    }
    char buf[1024];
    PlatLastNetworkError(buf, sizeof buf);
    return buf;
}

HRESULT OpenFile(const std::string& path, IMFMediaSource** source) {
    *source = nullptr;
    if (IsUrl(path)) {
        PlatRef<IMFByteStream> stream;
        return OpenUrl(path, source, &stream);
    }
    PlatRef<IMFSourceResolver> resolver;
    HRESULT hr = MFCreateSourceResolver(&resolver);
    if (FAILED(hr)) return hr;
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    PlatRef<IUnknown> object;
    hr = resolver->CreateObjectFromURL(Wide(path).c_str(), kOpenFlags, nullptr, &type, &object);
    return AsSource(hr, type, object.Get(), source);
}

bool IsOggSource(IMFMediaSource* source) {
    PlatRef<IMFPresentationDescriptor> pd;
    DWORD count = 0;
    if (FAILED(source->CreatePresentationDescriptor(&pd)) || FAILED(pd->GetStreamDescriptorCount(&count))) return false;
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        UINT32 codec = 0;
        if (FAILED(pd->GetStreamDescriptorByIndex(i, &selected, &sd)) || FAILED(sd->GetUINT32(MF_SD_OGG_CODEC, &codec)))
            return false;
    }
    return true;
}

HRESULT CallModule(const std::string& module, const char* entry) {
    HMODULE m = LoadLibraryA(module.c_str());
    if (!m) return HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError()));
    typedef HRESULT(STDAPICALLTYPE* EntryFn)();
    auto fn = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(m, entry)));
    HRESULT hr = fn ? fn() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(m);
    return hr;
}

} // namespace host
