#include "stream_reader.h"

StreamReader::StreamReader(IMFByteStream* stream) : m_pStream(stream) {
    if (m_pStream) m_pStream->AddRef();
}

StreamReader::~StreamReader() {
    if (m_pStream) m_pStream->Release();
    m_pStream = nullptr;
}

HRESULT StreamReader::QueryInterface(REFIID, void**) { return E_NOINTERFACE; }

ULONG StreamReader::AddRef() { return ++m_cRef; }

ULONG StreamReader::Release() {
    ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
}

HRESULT StreamReader::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
    LONG got = 0;
    return SyncReadCount(position, length, buffer, &got);
}

HRESULT StreamReader::SyncReadCount(LONGLONG position, LONG length, BYTE* buffer, LONG* got) {
    *got = 0;
    if (!m_pStream) return E_NOINTERFACE;
    // A negative position or length cannot be read: refused rather than handed to the byte stream.
    if (position < 0 || length < 0) return E_INVALIDARG;
    HRESULT hr = m_pStream->SetCurrentPosition(static_cast<QWORD>(position));
    if (FAILED(hr)) return hr;
    ULONG read = 0;
    hr = m_pStream->Read(buffer, static_cast<ULONG>(length), &read);
    if (FAILED(hr)) return hr;
    *got = static_cast<LONG>(read) < length ? static_cast<LONG>(read) : length;
    if (static_cast<LONG>(read) < length) return S_FALSE;
    return hr;
}

HRESULT StreamReader::Length(LONGLONG* total, LONGLONG* available) {
    if (!m_pStream) return E_NOINTERFACE;
    QWORD length = 0;
    HRESULT hr = m_pStream->GetLength(&length);
    if (total) *total = static_cast<LONGLONG>(length);
    if (available) *available = static_cast<LONGLONG>(length);
    return hr;
}

HRESULT StreamReader::Flush() { return m_pStream ? m_pStream->Flush() : E_NOINTERFACE; }

HRESULT StreamReader::Seek(DWORD origin, LONGLONG offset, DWORD flags, QWORD* current) {
    if (!m_pStream) return E_NOINTERFACE;
    return m_pStream->Seek(static_cast<MFBYTESTREAM_SEEK_ORIGIN>(origin), offset, flags, current);
}

HRESULT StreamReader::SetPosition(LONGLONG offset, DWORD origin, QWORD* position) {
    if (!m_pStream) return E_NOINTERFACE;
    QWORD p = 0;
    HRESULT hr = m_pStream->Seek(static_cast<MFBYTESTREAM_SEEK_ORIGIN>(origin), offset, 0, &p);
    if (position) *position = p;
    return hr;
}
