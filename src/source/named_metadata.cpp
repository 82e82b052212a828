#include "named_metadata.h"

#include <cstdlib>
#include <cstring>

#include "module_object.h"

namespace {
bool SameName(LPCWSTR wide, const char* ascii) {
    for (; *wide && *ascii; ++wide, ++ascii) {
        const WCHAR a = *wide >= 'A' && *wide <= 'Z' ? static_cast<WCHAR>(*wide + 32) : *wide;
        const char b = *ascii >= 'A' && *ascii <= 'Z' ? static_cast<char>(*ascii + 32) : *ascii;
        if (a != static_cast<WCHAR>(b)) return false;
    }
    return *wide == 0 && *ascii == 0;
}

HRESULT WideCopy(LPCWSTR text, LPWSTR* out) {
    size_t n = 0;
    while (text[n])
        ++n;
    *out = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
    if (!*out) return E_OUTOFMEMORY;
    std::memcpy(*out, text, (n + 1) * sizeof(WCHAR));
    return S_OK;
}

HRESULT AsciiCopy(const char* text, LPWSTR* out) {
    const size_t n = std::strlen(text);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
    if (!*out) return E_OUTOFMEMORY;
    for (size_t i = 0; i <= n; ++i)
        (*out)[i] = static_cast<WCHAR>(text[i]);
    return S_OK;
}

// An empty VT_VECTOR | VT_LPWSTR with room for `count` strings.
HRESULT StringVector(size_t count, PROPVARIANT* out) {
    PropVariantInit(out);
    out->vt = VT_VECTOR | VT_LPWSTR;
    if (count == 0) return S_OK;
    out->calpwstr.pElems = static_cast<LPWSTR*>(CoTaskMemAlloc(count * sizeof(LPWSTR)));
    return out->calpwstr.pElems ? S_OK : E_OUTOFMEMORY;
}
} // namespace

class CNamedMetadata final : public IMFMetadata, public CModuleObject {
public:
    explicit CNamedMetadata(CNamedMetadataBuilder* from)
        : m_entries(from->m_entries), m_count(from->m_count) {
        from->m_entries = nullptr;
        from->m_count = 0;
        m_language[0] = 0;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(CNamedMetadata, IMFMetadata), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CountReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }
    HRESULT STDMETHODCALLTYPE SetLanguage(LPCWSTR language) override {
        if (!language) return E_POINTER;
        size_t n = 0;
        while (language[n])
            ++n;
        if (n >= kLanguageUnits) return E_INVALIDARG;
        std::memcpy(m_language, language, (n + 1) * sizeof(WCHAR));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLanguage(LPWSTR* language) override {
        if (!language) return E_POINTER;
        return WideCopy(m_language, language);
    }
    HRESULT STDMETHODCALLTYPE GetAllLanguages(PROPVARIANT* languages) override {
        if (!languages) return E_POINTER;
        return StringVector(0, languages);
    }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR, const PROPVARIANT*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE DeleteProperty(LPCWSTR) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetProperty(LPCWSTR name, PROPVARIANT* value) override {
        if (!name || !value) return E_POINTER;
        PropVariantInit(value);
        for (size_t i = 0; i < m_count; ++i)
            if (SameName(name, m_entries[i].name)) return PropVariantCopy(value, &m_entries[i].value);
        return MF_E_PROPERTY_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE GetAllPropertyNames(PROPVARIANT* names) override {
        if (!names) return E_POINTER;
        HRESULT hr = StringVector(m_count, names);
        for (size_t i = 0; SUCCEEDED(hr) && i < m_count; ++i) {
            hr = AsciiCopy(m_entries[i].name, &names->calpwstr.pElems[i]);
            if (SUCCEEDED(hr)) names->calpwstr.cElems = static_cast<ULONG>(i + 1);
        }
        if (FAILED(hr)) PropVariantClear(names);
        return hr;
    }

private:
    ~CNamedMetadata() override {
        for (size_t i = 0; i < m_count; ++i)
            PropVariantClear(&m_entries[i].value);
        std::free(m_entries);
    }
    static constexpr size_t kLanguageUnits = 86; // an RFC 1766 tag is far shorter
    CNamedMetadataBuilder::Entry* m_entries;
    size_t m_count;
    WCHAR m_language[kLanguageUnits];
};

CNamedMetadataBuilder::~CNamedMetadataBuilder() {
    for (size_t i = 0; i < m_count; ++i)
        PropVariantClear(&m_entries[i].value);
    std::free(m_entries);
}

HRESULT CNamedMetadataBuilder::Add(const char* name, PROPVARIANT* value) {
    if (value->vt == VT_EMPTY) return S_FALSE;
    auto* grown = static_cast<Entry*>(ReallocBytes(m_entries, (m_count + 1) * sizeof(Entry)));
    if (!grown) {
        PropVariantClear(value);
        return E_OUTOFMEMORY;
    }
    m_entries = grown;
    m_entries[m_count].name = name;
    m_entries[m_count++].value = *value; // taken over
    PropVariantInit(value);
    return S_OK;
}

HRESULT CNamedMetadataBuilder::Create(IMFMetadata** out) {
    if (!out) return E_POINTER;
    *out = new CNamedMetadata(this);
    return *out ? S_OK : E_OUTOFMEMORY;
}
