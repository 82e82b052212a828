// The source resolver: opens the URL's bytes (a file path or file: URL, or http:// and https:// through the
// network byte stream), finds the byte-stream handler registered for the URL's extension or the stream's
// MIME type, loads its module once per process, and creates the media source through the handler's
// begin/end pair.
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "com_impl.h"
#include "completion.h"
#include "http_byte_stream.h"
#include "mfapi.h"
#include "mfidl.h"
#include "mfreadwrite.h"
#include "module.h"
#include "url_open.h"
#include "winreg.h"

namespace {
typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* CanUnloadFn)();

const char kHandlers[] = "Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers";

std::mutex& ModulesLock() {
    static std::mutex* lock = new std::mutex; // never destroyed: hosts may free libraries at exit
    return *lock;
}
std::map<std::string, HMODULE>& Modules() {
    static auto* modules = new std::map<std::string, HMODULE>;
    return *modules;
}

std::string Narrow(LPCWSTR w) {
    std::string s;
    for (; w && *w; ++w) s += static_cast<char>(*w < 0x80 ? *w : '?');
    return s;
}

bool ParseClsid(const char* text, CLSID* out) {
    unsigned d[11];
    if (std::strlen(text) != 38 ||
        std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6],
                    &d[7], &d[8], &d[9], &d[10]) != 11)
        return false;
    out->Data1 = d[0];
    out->Data2 = static_cast<uint16_t>(d[1]);
    out->Data3 = static_cast<uint16_t>(d[2]);
    for (int i = 0; i < 8; ++i) out->Data4[i] = static_cast<uint8_t>(d[3 + i]);
    return true;
}

void AddOnce(std::vector<CLSID>* list, const CLSID& clsid) {
    for (const CLSID& c : *list)
        if (IsEqualCLSID(c, clsid)) return;
    list->push_back(clsid);
}

// Every CLSID registered for the name (an extension or a MIME type), under HKEY_CURRENT_USER and then
// HKEY_LOCAL_MACHINE; key names compare without regard to case.
void FindHandlers(const std::string& name, std::vector<CLSID>* out) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, (std::string(kHandlers) + "\\" + name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        for (DWORD i = 0;; ++i) {
            char value[128];
            DWORD cch = sizeof value;
            if (RegEnumValueA(key, i, value, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            CLSID clsid;
            if (ParseClsid(value, &clsid)) AddOnce(out, clsid);
        }
        RegCloseKey(key);
    }
}

// Every handler registered for any name: what the resolver tries when the content need not match.
void AllHandlers(std::vector<CLSID>* out) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, kHandlers, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD cch = sizeof name;
            if (RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            FindHandlers(name, out);
        }
        RegCloseKey(key);
    }
}

// The extension of the URL's path (".ogg"), or "": for a URL with a scheme, its path alone counts (not the
// host name, the query or the fragment).
std::string Extension(std::string url) {
    const size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        const size_t path = url.find('/', scheme + 3);
        url = path == std::string::npos ? std::string() : url.substr(path, url.find_first_of("?#", path) - path);
    }
    const size_t dot = url.find_last_of('.'), slash = url.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    return url.substr(dot);
}

// The MIME type without its parameters or blanks ("audio/ogg; codecs=opus" is "audio/ogg").
std::string MediaType(const std::string& contentType) {
    std::string t = contentType.substr(0, contentType.find(';'));
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    const size_t start = t.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : t.substr(start);
}

// The handlers to try, in order: those of the URL's extension, those of the byte stream's MIME type
// (MF_BYTESTREAM_CONTENT_TYPE), and, when the content need not match either, every other one registered.
std::vector<CLSID> Candidates(const std::string& url, IMFByteStream* stream, DWORD flags) {
    std::vector<CLSID> list;
    const std::string extension = Extension(url);
    if (!extension.empty()) FindHandlers(extension, &list);
    PlatRef<IMFAttributes> attributes;
    LPWSTR mime = nullptr;
    UINT32 length = 0;
    if (stream && SUCCEEDED(stream->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes))) &&
        SUCCEEDED(attributes->GetAllocatedString(MF_BYTESTREAM_CONTENT_TYPE, &mime, &length))) {
        const std::string type = MediaType(Narrow(mime));
        if (!type.empty()) FindHandlers(type, &list);
        CoTaskMemFree(mime);
    }
    if (flags & MF_RESOLUTION_CONTENT_DOES_NOT_HAVE_TO_MATCH_EXTENSION_OR_MIME_TYPE) AllHandlers(&list);
    return list;
}

HRESULT LoadModule(const std::string& path, HMODULE* module) {
    std::lock_guard<std::mutex> g(ModulesLock());
    auto it = Modules().find(path);
    if (it != Modules().end()) {
        *module = it->second;
        return S_OK;
    }
    HMODULE m = LoadLibraryA(path.c_str());
    if (!m) return HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError()));
    Modules()[path] = m;
    *module = m;
    return S_OK;
}

HRESULT CreateHandler(const CLSID& clsid, IMFByteStreamHandler** handler) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMFByteStreamHandler,
                            reinterpret_cast<void**>(handler));
}

class SourceResolver final : public IMFSourceResolver {
    PLAT_REFCOUNT(SourceResolver)
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(SourceResolver, IMFSourceResolver), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT CreateObjectFromURL(LPCWSTR url, DWORD flags, IPropertyStore* props, MF_OBJECT_TYPE* type,
                                IUnknown** object) override {
        if (!url || !type || !object) return E_POINTER;
        *type = MF_OBJECT_INVALID;
        *object = nullptr;
        PlatRef<IMFByteStream> stream;
        bool needsOpen = false;
        HRESULT hr = PlatMakeUrlByteStream(Narrow(url).c_str(), &stream, &needsOpen);
        if (SUCCEEDED(hr) && needsOpen) hr = PlatOpenHttpByteStream(stream.Get());
        if (FAILED(hr)) return hr;
        if (flags & MF_RESOLUTION_BYTESTREAM) { // the scheme's byte stream itself, as the system's resolver gives
            *type = MF_OBJECT_BYTESTREAM;
            *object = stream.Detach();
            return S_OK;
        }
        return CreateObjectFromByteStream(stream.Get(), url, flags, props, type, object);
    }
    HRESULT CreateObjectFromByteStream(IMFByteStream* stream, LPCWSTR url, DWORD flags, IPropertyStore* props,
                                       MF_OBJECT_TYPE* type, IUnknown** object) override {
        if (!stream || !type || !object) return E_POINTER;
        *type = MF_OBJECT_INVALID;
        *object = nullptr;
        if (!(flags & MF_RESOLUTION_MEDIASOURCE)) return E_INVALIDARG;
        // Each candidate in turn; the first that makes a source wins, and the first failure is what is left
        // to tell when none does.
        HRESULT first = MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
        bool tried = false;
        for (const CLSID& clsid : Candidates(Narrow(url), stream, flags)) {
            HRESULT hr = TryHandler(clsid, stream, url, flags, props, type, object);
            if (SUCCEEDED(hr)) return hr;
            if (!tried) first = hr;
            tried = true;
            stream->SetCurrentPosition(0); // the next handler reads from the start
        }
        return first;
    }
    HRESULT TryHandler(const CLSID& clsid, IMFByteStream* stream, LPCWSTR url, DWORD flags, IPropertyStore* props,
                       MF_OBJECT_TYPE* type, IUnknown** object) {
        PlatRef<IMFByteStreamHandler> handler;
        HRESULT hr = CreateHandler(clsid, &handler);
        if (FAILED(hr)) return hr;
        PlatRef<PlatCompletion> done;
        done.Attach(new (std::nothrow) PlatCompletion);
        if (!done) return E_OUTOFMEMORY;
        IUnknown* cookie = nullptr;
        hr = handler->BeginCreateObject(stream, url, flags, props, &cookie, done.Get(), nullptr);
        if (cookie) cookie->Release();
        if (FAILED(hr)) return hr;
        PlatRef<IMFAsyncResult> result = done->Take();
        return handler->EndCreateObject(result.Get(), type, object);
    }
    // A URL's open may wait for a server: it runs on a thread of its own, and the cookie cancels it.
    HRESULT BeginCreateObjectFromURL(LPCWSTR url, DWORD flags, IPropertyStore* props, IUnknown** cookie,
                                     IMFAsyncCallback* callback, IUnknown* state) override {
        return PlatBeginUrlOpen(this, url, flags, props, cookie, callback, state);
    }
    HRESULT EndCreateObjectFromURL(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) override {
        if (!result || !type || !object) return E_POINTER;
        *type = MF_OBJECT_INVALID;
        *object = nullptr;
        HRESULT hr = result->GetStatus();
        if (FAILED(hr)) return hr;
        PlatRef<IUnknown> made;
        hr = result->GetObject(&made);
        if (FAILED(hr)) return hr;
        PlatRef<IMFMediaSource> source;
        const bool isSource = SUCCEEDED(made->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&source)));
        *type = isSource ? MF_OBJECT_MEDIASOURCE : MF_OBJECT_BYTESTREAM;
        *object = made.Detach();
        return S_OK;
    }
    HRESULT BeginCreateObjectFromByteStream(IMFByteStream*, LPCWSTR, DWORD, IPropertyStore*, IUnknown**,
                                            IMFAsyncCallback*, IUnknown*) override {
        return E_NOTIMPL;
    }
    HRESULT EndCreateObjectFromByteStream(IMFAsyncResult*, MF_OBJECT_TYPE*, IUnknown**) override { return E_NOTIMPL; }
    // Cancels what BeginCreateObjectFromURL started (the byte-stream pair has nothing to cancel).
    HRESULT CancelObjectCreation(IUnknown* cookie) override { return PlatCancelUrlOpen(cookie); }

private:
    virtual ~SourceResolver() = default;
};
} // namespace

extern "C" HRESULT MFCreateSourceResolver(IMFSourceResolver** resolver) { return PlatCreate<SourceResolver>(resolver); }

// The Source Reader is a Windows component: a host that wants it is told there is none here.
extern "C" HRESULT MFCreateSourceReaderFromURL(LPCWSTR, IMFAttributes*, IMFSourceReader** reader) {
    if (reader) *reader = nullptr;
    return E_NOTIMPL;
}

extern "C" HRESULT MFCreateSourceReaderFromByteStream(IMFByteStream*, IMFAttributes*,
                                                      IMFSourceReader** reader) {
    if (reader) *reader = nullptr;
    return E_NOTIMPL;
}

extern "C" void CoFreeUnusedLibraries() {
    std::lock_guard<std::mutex> g(ModulesLock());
    for (auto it = Modules().begin(); it != Modules().end();) {
        auto canUnload = reinterpret_cast<CanUnloadFn>(GetProcAddress(it->second, "DllCanUnloadNow"));
        if (canUnload && canUnload() == S_OK) {
            FreeLibrary(it->second);
            it = Modules().erase(it);
        } else {
            ++it;
        }
    }
}

extern "C" HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                                    void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    WCHAR text[39];
    StringFromGUID2(rclsid, text, 39);
    char path[4096];
    LONG cb = sizeof path;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, ("CLSID\\" + Narrow(text) + "\\InprocServer32").c_str(), path, &cb) !=
            ERROR_SUCCESS ||
        !*path)
        return REGDB_E_CLASSNOTREG;
    HMODULE module = nullptr;
    HRESULT hr = LoadModule(path, &module);
    if (FAILED(hr)) return hr;
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
    if (!getClassObject) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    PlatRef<IClassFactory> factory;
    hr = getClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}
