#include "thumbnail_provider.h"

#include <cstdlib>
#include <thumbcache.h>

#include "source/module_object.h"
#include "stream_core.h"
#include "support/lock.h"
#include "thumbnail_cover.h"
#include "wic_thumbnail.h"

namespace {
// The cover of the file's start (the tags the property handler tells), copied out of the core: S_FALSE when
// the file has none.
HRESULT ReadCover(IStream* stream, uint8_t** bytes, size_t* size) {
    COggDemuxer* core = nullptr;
    HRESULT hr = OpenStreamCore(stream, &core);
    if (SUCCEEDED(hr)) hr = CopyThumbnailCover(StartTags(*core), bytes, size);
    CloseStreamCore(core);
    return hr;
}

class CThumbnailProvider final : public IInitializeWithStream,
                                 public IThumbnailProvider,
                                 public CModuleObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(CThumbnailProvider, IInitializeWithStream),
                                      QITABENT(CThumbnailProvider, IThumbnailProvider),
                                      {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CountReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD) override {
        if (!stream) return E_POINTER;
        {
            CAutoLock lock(m_lock);
            if (m_state != State::New) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
            // One attempt per object, as the shell makes one per file: a failed read is not tried again.
            m_state = State::Reading;
        }
        // The file is read without the lock: a GetThumbnail meanwhile answers at once (nothing to draw yet).
        uint8_t* bytes = nullptr;
        size_t size = 0;
        const HRESULT hr = ReadCover(stream, &bytes, &size);
        CAutoLock lock(m_lock);
        m_pCover = bytes;
        m_cbCover = size;
        m_state = FAILED(hr) ? State::Failed : State::Read;
        return FAILED(hr) ? hr : S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override {
        if (!bitmap || !alpha) return E_POINTER;
        *bitmap = nullptr;
        *alpha = WTSAT_UNKNOWN;
        const BYTE* cover = nullptr;
        size_t size = 0;
        {
            CAutoLock lock(m_lock);
            // Before a successful Initialize there is nothing to draw: E_UNEXPECTED, as the property handler
            // says.
            if (m_state != State::Read) return E_UNEXPECTED;
            cover = m_pCover;
            size = m_cbCover;
        }
        // No cover: the shell's own code for an item it cannot draw (it shows the type's icon instead).
        if (!cover) return WTS_E_FAILEDEXTRACTION;
        // The bytes do not change once read and live as long as the object: decoded without the lock.
        HRESULT hr = DecodeThumbnail(cover, size, cx, bitmap);
        // Always 32-bit BGRA with straight alpha; an image without an alpha channel is opaque in it.
        if (SUCCEEDED(hr)) *alpha = WTSAT_ARGB;
        return hr;
    }

private:
    enum class State { New, Reading, Read, Failed };
    ~CThumbnailProvider() override { std::free(m_pCover); }
    CLock m_lock;
    State m_state = State::New;
    uint8_t* m_pCover = nullptr; // null once read: the file has no cover
    size_t m_cbCover = 0;
};
} // namespace

HRESULT CreateThumbnailProvider(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CThumbnailProvider* provider = new CThumbnailProvider;
    if (!provider) return E_OUTOFMEMORY;
    const HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
}
