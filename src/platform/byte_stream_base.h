// Common part of the platform's read-only byte streams: the current position, seeking, and the
// refusal of writes. A derived class supplies ReadAt and LengthOf.
#pragma once
#include <mutex>

#include "attributes.h"
#include "com_impl.h"
#include "mfobjects.h"

// A byte stream's attributes are the system's too: a host sets MF_BYTESTREAM_CONTENT_TYPE on them (the MIME
// type the resolver looks a handler up by).
class ReadOnlyByteStream : public IMFByteStream, public TAttributes<IMFAttributes> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {QITABENT(ReadOnlyByteStream, IMFByteStream),
                                      QITABENT(ReadOnlyByteStream, IMFAttributes), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    HRESULT GetCapabilities(DWORD* caps) override {
        if (!caps) return E_POINTER;
        *caps = MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_SEEKABLE;
        return S_OK;
    }
    HRESULT GetLength(QWORD* length) override {
        if (!length) return E_POINTER;
        return LengthOf(length);
    }
    HRESULT SetLength(QWORD) override { return E_ACCESSDENIED; }
    HRESULT GetCurrentPosition(QWORD* position) override {
        if (!position) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        *position = m_position;
        return S_OK;
    }
    HRESULT SetCurrentPosition(QWORD position) override {
        if (position > static_cast<QWORD>(INT64_MAX)) return E_INVALIDARG;
        std::lock_guard<std::mutex> g(m_lock);
        m_position = position;
        return S_OK;
    }
    HRESULT IsEndOfStream(BOOL* end) override {
        if (!end) return E_POINTER;
        QWORD length = 0;
        HRESULT hr = LengthOf(&length);
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> g(m_lock);
        *end = m_position >= length;
        return S_OK;
    }
    HRESULT Read(BYTE* buffer, ULONG count, ULONG* read) override {
        if (!buffer || !read) return E_POINTER;
        std::lock_guard<std::mutex> g(m_lock);
        *read = 0;
        HRESULT hr = ReadAt(m_position, buffer, count, read);
        if (SUCCEEDED(hr)) m_position += *read;
        return hr;
    }
    // Nothing in the source reads asynchronously; these stay unimplemented.
    HRESULT BeginRead(BYTE*, ULONG, IMFAsyncCallback*, IUnknown*) override { return E_NOTIMPL; }
    HRESULT EndRead(IMFAsyncResult*, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const BYTE*, ULONG, ULONG*) override { return E_ACCESSDENIED; }
    HRESULT BeginWrite(const BYTE*, ULONG, IMFAsyncCallback*, IUnknown*) override { return E_ACCESSDENIED; }
    HRESULT EndWrite(IMFAsyncResult*, ULONG*) override { return E_ACCESSDENIED; }
    HRESULT Seek(MFBYTESTREAM_SEEK_ORIGIN origin, LONGLONG offset, DWORD, QWORD* position) override {
        std::lock_guard<std::mutex> g(m_lock);
        LONGLONG base = origin == msoCurrent ? static_cast<LONGLONG>(m_position) : 0;
        if (origin != msoBegin && origin != msoCurrent) return E_INVALIDARG;
        if (offset < 0 ? base + offset < 0 : offset > INT64_MAX - base) return E_INVALIDARG;
        m_position = static_cast<QWORD>(base + offset);
        if (position) *position = m_position;
        return S_OK;
    }
    HRESULT Flush() override { return S_OK; }
    HRESULT Close() override { return S_OK; }

protected:
    virtual ~ReadOnlyByteStream() = default;
    // Reads up to count bytes at position; *read says how many (0 at or past the end).
    virtual HRESULT ReadAt(QWORD position, BYTE* buffer, ULONG count, ULONG* read) = 0;
    virtual HRESULT LengthOf(QWORD* length) = 0;

private:
    std::mutex m_lock;
    QWORD m_position = 0;
};
