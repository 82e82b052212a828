// oggsource tags: a file's tags as each kind of client reads them. A media host asks the source for its
// property store (MF_PROPERTY_HANDLER_SERVICE) or its metadata provider (MF_METADATA_PROVIDER_SERVICE, the
// presentation's names and each stream's); Explorer creates the shell property handler by class and hands it
// a stream over the file; on Windows, a player built on mfplay takes them from its media item. Each view is
// printed as it came, so that they can be compared.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host.h"
#include "oggsource.h"
#include "probe.h"
#include "tags_views.h"

namespace {
struct NamedKey {
    const char* name;
    const PROPERTYKEY* key;
};
// The property system's canonical names of the keys the stores hand out.
const NamedKey kKeys[] = {{"System.Title", &PKEY_Title},
                          {"System.Music.Artist", &PKEY_Music_Artist},
                          {"System.Music.AlbumTitle", &PKEY_Music_AlbumTitle},
                          {"System.Music.AlbumArtist", &PKEY_Music_AlbumArtist},
                          {"System.Music.Genre", &PKEY_Music_Genre},
                          {"System.Music.Composer", &PKEY_Music_Composer},
                          {"System.Comment", &PKEY_Comment},
                          {"System.Music.TrackNumber", &PKEY_Music_TrackNumber},
                          {"System.Media.Year", &PKEY_Media_Year},
                          {"System.Media.Duration", &PKEY_Media_Duration},
                          {"System.Audio.EncodingBitrate", &PKEY_Audio_EncodingBitrate},
                          {"System.Audio.ChannelCount", &PKEY_Audio_ChannelCount},
                          {"System.Audio.SampleRate", &PKEY_Audio_SampleRate},
                          {"System.Video.FrameWidth", &PKEY_Video_FrameWidth},
                          {"System.Video.FrameHeight", &PKEY_Video_FrameHeight},
                          {"System.Video.FrameRate", &PKEY_Video_FrameRate},
                          {"System.ThumbnailStream", &PKEY_ThumbnailStream}};

std::string Utf8(LPCWSTR text) {
    if (!text) return "";
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return "";
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string KeyName(REFPROPERTYKEY key) {
    for (const NamedKey& k : kKeys)
        if (IsEqualPropertyKey(*k.key, key)) return k.name;
    return host::GuidText(key.fmtid) + " " + std::to_string(key.pid);
}

// A value as JSON: text, a list of texts, a number, {"bytes": n} for a stream or a blob (a cover).
nlohmann::json Value(const PROPVARIANT& v) {
    if (v.vt == VT_LPWSTR) return Utf8(v.pwszVal);
    if (v.vt == (VT_VECTOR | VT_LPWSTR)) {
        nlohmann::json list = nlohmann::json::array();
        for (ULONG i = 0; i < v.calpwstr.cElems; ++i)
            list.push_back(Utf8(v.calpwstr.pElems[i]));
        return list;
    }
    if (v.vt == VT_UI4) return v.ulVal;
    if (v.vt == VT_UI8) return static_cast<uint64_t>(v.uhVal.QuadPart);
    if (v.vt == VT_BLOB) return {{"bytes", v.blob.cbSize}};
    STATSTG st = {};
    if (v.vt == VT_STREAM && v.pStream && SUCCEEDED(v.pStream->Stat(&st, STATFLAG_NONAME)))
        return {{"bytes", static_cast<uint64_t>(st.cbSize.QuadPart)}};
    return {{"kind", v.vt}};
}
} // namespace

nlohmann::json StoreView(IPropertyStore* store) {
    nlohmann::json j = nlohmann::json::object();
    DWORD count = 0;
    if (FAILED(store->GetCount(&count))) return j;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key{};
        PROPVARIANT v;
        PropVariantInit(&v);
        if (SUCCEEDED(store->GetAt(i, &key)) && SUCCEEDED(store->GetValue(key, &v)))
            j[KeyName(key)] = Value(v);
        PropVariantClear(&v);
    }
    return j;
}

namespace {
nlohmann::json MetadataView(IMFMetadata* metadata) {
    nlohmann::json j = nlohmann::json::object();
    PROPVARIANT names;
    PropVariantInit(&names);
    if (FAILED(metadata->GetAllPropertyNames(&names)) || names.vt != (VT_VECTOR | VT_LPWSTR)) return j;
    for (ULONG i = 0; i < names.calpwstr.cElems; ++i) {
        PROPVARIANT v;
        PropVariantInit(&v);
        if (SUCCEEDED(metadata->GetProperty(names.calpwstr.pElems[i], &v)))
            j[Utf8(names.calpwstr.pElems[i])] = Value(v);
        PropVariantClear(&v);
    }
    PropVariantClear(&names);
    return j;
}

// The provider's presentation names, and each stream's under its identifier.
HRESULT ProviderView(IMFMediaSource* source, nlohmann::json* out) {
    PlatRef<IMFMetadataProvider> provider;
    PlatRef<IMFPresentationDescriptor> pd;
    HRESULT hr = MFGetService(source, MF_METADATA_PROVIDER_SERVICE, IID_IMFMetadataProvider,
                              reinterpret_cast<void**>(&provider));
    if (SUCCEEDED(hr)) hr = source->CreatePresentationDescriptor(&pd);
    PlatRef<IMFMetadata> metadata;
    if (SUCCEEDED(hr)) hr = provider->GetMFMetadata(pd.Get(), 0, 0, &metadata);
    if (FAILED(hr)) return hr;
    (*out)["presentation"] = MetadataView(metadata.Get());
    (*out)["streams"] = nlohmann::json::object();
    DWORD count = 0;
    pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        DWORD id = 0;
        PlatRef<IMFMetadata> stream;
        if (FAILED(pd->GetStreamDescriptorByIndex(i, &selected, &sd)) || FAILED(sd->GetStreamIdentifier(&id)))
            continue;
        if (SUCCEEDED(provider->GetMFMetadata(pd.Get(), id, 0, &stream)))
            (*out)["streams"][std::to_string(id)] = MetadataView(stream.Get());
    }
    return S_OK;
}

// The shell property handler, made and fed as Explorer does: by class, with a stream over the file.
HRESULT ShellView(const std::string& path, nlohmann::json* out) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 0) return E_INVALIDARG;
    std::vector<WCHAR> wide(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
    PlatRef<IStream> file;
    PlatRef<IInitializeWithStream> init;
    PlatRef<IPropertyStore> store;
    HRESULT hr = SHCreateStreamOnFileEx(wide.data(), STGM_READ, 0, FALSE, nullptr, &file);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_OGGPropertyHandler, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
    if (SUCCEEDED(hr)) hr = init->Initialize(file.Get(), STGM_READ);
    if (SUCCEEDED(hr)) hr = init->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store));
    if (SUCCEEDED(hr)) *out = StoreView(store.Get());
    return hr;
}

// One view, or the reason it could not be read.
void Put(nlohmann::json* j, const char* name, HRESULT hr, const nlohmann::json& view) {
    (*j)[name] = SUCCEEDED(hr) ? view : nlohmann::json{{"error", host::HResultText(hr)}};
}

void PrintView(const std::string& title, const nlohmann::json& view) {
    std::printf("%s:\n", title.c_str());
    if (view.contains("error"))
        std::printf("  (%s)\n", view["error"].get<std::string>().c_str());
    else
        for (auto it = view.begin(); it != view.end(); ++it)
            std::printf("  %s = %s\n", it.key().c_str(), it.value().dump().c_str());
}
} // namespace

int TagsCommand(const std::vector<std::string>& args) {
    bool json = false;
    std::string path;
    for (const std::string& a : args) {
        if (a == "--json")
            json = true;
        else if (path.empty() && a.rfind("--", 0) != 0)
            path = a;
        else {
            std::fprintf(stderr, "oggsource tags: unexpected argument %s\n", a.c_str());
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "oggsource tags: no file\n");
        return 2;
    }
    PlatRef<IMFMediaSource> source;
    HRESULT hr = host::OpenFile(path, &source);
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s: cannot open (%s)\n", path.c_str(), host::HResultText(hr).c_str());
        return 1;
    }
    nlohmann::json j = {{"file", path}};
    PlatRef<IPropertyStore> store;
    hr = MFGetService(source.Get(), MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                      reinterpret_cast<void**>(&store));
    Put(&j, "store", hr, SUCCEEDED(hr) ? StoreView(store.Get()) : nullptr);
    nlohmann::json provider;
    hr = ProviderView(source.Get(), &provider);
    Put(&j, "provider", hr, provider);
    store.Reset(nullptr);
    source->Shutdown();
    // Explorer's side: COM in this thread, as the shell has it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    nlohmann::json shell;
    hr = ShellView(path, &shell);
    Put(&j, "shell", hr, shell);
#ifdef OGGSOURCE_MFPLAY
    nlohmann::json mfplay;
    hr = MfplayView(path, &mfplay);
    Put(&j, "mfplay", hr, mfplay);
#endif
    if (SUCCEEDED(com)) CoUninitialize();
    if (json) {
        std::printf("%s\n", j.dump().c_str());
        return 0;
    }
    std::printf("%s\n", path.c_str());
    PrintView("source property store (MF_PROPERTY_HANDLER_SERVICE)", j["store"]);
    if (j["provider"].contains("error"))
        PrintView("metadata provider (MF_METADATA_PROVIDER_SERVICE)", j["provider"]);
    else {
        PrintView("metadata provider (MF_METADATA_PROVIDER_SERVICE), presentation",
                  j["provider"]["presentation"]);
        for (auto it = j["provider"]["streams"].begin(); it != j["provider"]["streams"].end(); ++it)
            PrintView("metadata provider, stream " + it.key(), it.value());
    }
    PrintView("shell property handler (CLSID_OGGPropertyHandler)", j["shell"]);
    if (j.contains("mfplay")) PrintView("mfplay (IMFPMediaItem::GetMetadata)", j["mfplay"]);
    return 0;
}
