// The Windows host's stream without seek or length: the system's file byte stream (MFCreateFile) behind a
// wrapper that hides its length and its seeks, as a pipe or a plain HTTP reply would give them, and carries
// attributes of its own with the MIME type. The attributes are the wrapper's, not the file stream's: the file
// stream's MF_BYTESTREAM_ORIGIN_NAME would name the file (and its extension), which such a stream does not
// have, and an IMFAttributes handed out by the wrapper must lead back to the wrapper (QueryInterface for
// IMFByteStream on it must not give the seekable stream inside).
#include <atomic>
#include <new>

#include "unseekable_stream.h"

namespace host {
namespace {

class CUnseekableByteStream final : public IMFByteStream, public IMFAttributes {
public:
    CUnseekableByteStream(IMFByteStream* file, IMFAttributes* attributes)
        : m_file(file), m_attributes(attributes) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMFByteStream))
            *ppv = static_cast<IMFByteStream*>(this);
        else if (IsEqualIID(riid, IID_IMFAttributes))
            *ppv = static_cast<IMFAttributes*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) delete this;
        return n;
    }

    // IMFByteStream: what a stream that cannot seek and has no length says; the rest is the file stream's.
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* caps) override {
        const HRESULT hr = m_file->GetCapabilities(caps);
        if (SUCCEEDED(hr))
            *caps &= ~static_cast<DWORD>(MFBYTESTREAM_IS_SEEKABLE | MFBYTESTREAM_HAS_SLOW_SEEK);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetLength(QWORD* length) override {
        if (!length) return E_POINTER;
        *length = ~QWORD(0); // unknown
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetLength(QWORD length) override { return m_file->SetLength(length); }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(QWORD* position) override {
        return m_file->GetCurrentPosition(position);
    }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(QWORD position) override {
        if (!IsHere(position)) return MF_E_BYTESTREAM_NOT_SEEKABLE;
        return m_file->SetCurrentPosition(position);
    }
    HRESULT STDMETHODCALLTYPE IsEndOfStream(BOOL* end) override { return m_file->IsEndOfStream(end); }
    HRESULT STDMETHODCALLTYPE Read(BYTE* buffer, ULONG size, ULONG* read) override {
        return m_file->Read(buffer, size, read);
    }
    HRESULT STDMETHODCALLTYPE BeginRead(BYTE* buffer, ULONG size, IMFAsyncCallback* callback,
                                        IUnknown* state) override {
        return m_file->BeginRead(buffer, size, callback, state);
    }
    HRESULT STDMETHODCALLTYPE EndRead(IMFAsyncResult* result, ULONG* read) override {
        return m_file->EndRead(result, read);
    }
    HRESULT STDMETHODCALLTYPE Write(const BYTE* data, ULONG size, ULONG* written) override {
        return m_file->Write(data, size, written);
    }
    HRESULT STDMETHODCALLTYPE BeginWrite(const BYTE* data, ULONG size, IMFAsyncCallback* callback,
                                         IUnknown* state) override {
        return m_file->BeginWrite(data, size, callback, state);
    }
    HRESULT STDMETHODCALLTYPE EndWrite(IMFAsyncResult* result, ULONG* written) override {
        return m_file->EndWrite(result, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(MFBYTESTREAM_SEEK_ORIGIN origin, LONGLONG offset, DWORD flags,
                                   QWORD* position) override {
        QWORD target = static_cast<QWORD>(offset);
        if (origin == msoCurrent) {
            QWORD at = 0;
            const HRESULT hr = m_file->GetCurrentPosition(&at);
            if (FAILED(hr)) return hr;
            target = at + static_cast<QWORD>(offset);
        }
        if (!IsHere(target)) return MF_E_BYTESTREAM_NOT_SEEKABLE;
        return m_file->Seek(origin, offset, flags, position);
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return m_file->Flush(); }
    HRESULT STDMETHODCALLTYPE Close() override { return m_file->Close(); }

    // IMFAttributes: the wrapper's own store.
    HRESULT STDMETHODCALLTYPE GetItem(REFGUID key, PROPVARIANT* value) override {
        return m_attributes->GetItem(key, value);
    }
    HRESULT STDMETHODCALLTYPE GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override {
        return m_attributes->GetItemType(key, type);
    }
    HRESULT STDMETHODCALLTYPE CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override {
        return m_attributes->CompareItem(key, value, result);
    }
    HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type,
                                      BOOL* result) override {
        return m_attributes->Compare(theirs, type, result);
    }
    HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID key, UINT32* value) override {
        return m_attributes->GetUINT32(key, value);
    }
    HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID key, UINT64* value) override {
        return m_attributes->GetUINT64(key, value);
    }
    HRESULT STDMETHODCALLTYPE GetDouble(REFGUID key, double* value) override {
        return m_attributes->GetDouble(key, value);
    }
    HRESULT STDMETHODCALLTYPE GetGUID(REFGUID key, GUID* value) override {
        return m_attributes->GetGUID(key, value);
    }
    HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID key, UINT32* length) override {
        return m_attributes->GetStringLength(key, length);
    }
    HRESULT STDMETHODCALLTYPE GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override {
        return m_attributes->GetString(key, value, size, length);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override {
        return m_attributes->GetAllocatedString(key, value, length);
    }
    HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID key, UINT32* size) override {
        return m_attributes->GetBlobSize(key, size);
    }
    HRESULT STDMETHODCALLTYPE GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* written) override {
        return m_attributes->GetBlob(key, buffer, size, written);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override {
        return m_attributes->GetAllocatedBlob(key, buffer, size);
    }
    HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID key, REFIID riid, LPVOID* ppv) override {
        return m_attributes->GetUnknown(key, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE SetItem(REFGUID key, REFPROPVARIANT value) override {
        return m_attributes->SetItem(key, value);
    }
    HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID key) override { return m_attributes->DeleteItem(key); }
    HRESULT STDMETHODCALLTYPE DeleteAllItems() override { return m_attributes->DeleteAllItems(); }
    HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID key, UINT32 value) override {
        return m_attributes->SetUINT32(key, value);
    }
    HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID key, UINT64 value) override {
        return m_attributes->SetUINT64(key, value);
    }
    HRESULT STDMETHODCALLTYPE SetDouble(REFGUID key, double value) override {
        return m_attributes->SetDouble(key, value);
    }
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID key, REFGUID value) override {
        return m_attributes->SetGUID(key, value);
    }
    HRESULT STDMETHODCALLTYPE SetString(REFGUID key, LPCWSTR value) override {
        return m_attributes->SetString(key, value);
    }
    HRESULT STDMETHODCALLTYPE SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override {
        return m_attributes->SetBlob(key, buffer, size);
    }
    HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID key, IUnknown* value) override {
        return m_attributes->SetUnknown(key, value);
    }
    HRESULT STDMETHODCALLTYPE LockStore() override { return m_attributes->LockStore(); }
    HRESULT STDMETHODCALLTYPE UnlockStore() override { return m_attributes->UnlockStore(); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT32* count) override { return m_attributes->GetCount(count); }
    HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override {
        return m_attributes->GetItemByIndex(index, key, value);
    }
    HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* destination) override {
        return m_attributes->CopyAllItems(destination);
    }

private:
    ~CUnseekableByteStream() = default;
    // A stream that cannot seek can only "seek" to where it is.
    bool IsHere(QWORD position) {
        QWORD at = 0;
        return SUCCEEDED(m_file->GetCurrentPosition(&at)) && at == position;
    }

    std::atomic<ULONG> m_cRef{1};
    PlatRef<IMFByteStream> m_file;
    PlatRef<IMFAttributes> m_attributes;
};

} // namespace

HRESULT CreateUnseekableStream(const std::string& path, const std::string& contentType,
                               IMFByteStream** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    const std::wstring wide(path.begin(), path.end()), type(contentType.begin(), contentType.end());
    PlatRef<IMFByteStream> file;
    PlatRef<IMFAttributes> attributes;
    HRESULT hr = MFCreateFile(MF_ACCESSMODE_READ, MF_OPENMODE_FAIL_IF_NOT_EXIST, MF_FILEFLAGS_NONE,
                              wide.c_str(), &file);
    if (SUCCEEDED(hr)) hr = MFCreateAttributes(&attributes, 1);
    if (SUCCEEDED(hr)) hr = attributes->SetString(MF_BYTESTREAM_CONTENT_TYPE, type.c_str());
    if (FAILED(hr)) return hr;
    *stream = new (std::nothrow) CUnseekableByteStream(file.Get(), attributes.Get());
    return *stream ? S_OK : E_OUTOFMEMORY;
}

} // namespace host
