#include "stream_reader.h"

StreamReader::StreamReader(IMFByteStream* stream) : m_pStream(stream) { m_pStream->AddRef(); }

StreamReader::~StreamReader() { m_pStream->Release(); }

ULONG StreamReader::AddRef() { return ++m_cRef; }

ULONG StreamReader::Release() {
    const ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
}

HRESULT StreamReader::ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) {
    *got = 0;
    // A negative position or length cannot be read: refused rather than handed to the byte stream.
    if (position < 0 || length < 0) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(m_lock);
    QWORD at = 0;
    HRESULT hr = m_pStream->GetCurrentPosition(&at);
    // A byte stream that cannot seek is read on from where it is: it is asked to move only when it must.
    if (FAILED(hr) || at != static_cast<QWORD>(position)) hr = m_pStream->SetCurrentPosition(static_cast<QWORD>(position));
    if (FAILED(hr)) return hr;
    ULONG read = 0;
    hr = m_pStream->Read(buffer, static_cast<ULONG>(length), &read);
    if (FAILED(hr)) return hr;
    *got = read < static_cast<ULONG>(length) ? static_cast<LONG>(read) : length;
    return S_OK;
}

ByteSourceCaps StreamReader::Caps() {
    ByteSourceCaps caps;
    DWORD flags = 0;
    if (SUCCEEDED(m_pStream->GetCapabilities(&flags))) {
        caps.seekable = (flags & MFBYTESTREAM_IS_SEEKABLE) != 0;
        caps.remote = (flags & MFBYTESTREAM_IS_REMOTE) != 0;
        caps.slowSeek = (flags & MFBYTESTREAM_HAS_SLOW_SEEK) != 0;
    }
    // A length that cannot be told, or the usual "unknown" answer (all bits set), is not known.
    QWORD length = 0;
    if (SUCCEEDED(m_pStream->GetLength(&length)) && length < static_cast<QWORD>(UnknownLength)) caps.length = static_cast<LONGLONG>(length);
    return caps;
}
