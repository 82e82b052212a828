#include "stream_byte_source.h"

namespace {
// The stream's length: Stat's size, else where a seek to the end lands; -1 when neither tells.
LONGLONG StreamLength(IStream* stream) {
    STATSTG stat = {};
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)))
        return stat.cbSize.QuadPart <= static_cast<ULONGLONG>(UnknownLength)
                   ? static_cast<LONGLONG>(stat.cbSize.QuadPart)
                   : -1;
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER end = {};
    if (FAILED(stream->Seek(zero, STREAM_SEEK_END, &end))) return -1;
    return end.QuadPart <= static_cast<ULONGLONG>(UnknownLength) ? static_cast<LONGLONG>(end.QuadPart) : -1;
}
} // namespace

CStreamByteSource::CStreamByteSource(IStream* stream) : m_pStream(stream) {
    m_pStream->AddRef();
    m_caps.length = StreamLength(stream);
}

CStreamByteSource::~CStreamByteSource() {
    m_pStream->Release();
}

ULONG CStreamByteSource::Release() {
    const ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
}

HRESULT CStreamByteSource::ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) {
    if (!buffer || !got || position < 0 || length < 0) return E_INVALIDARG;
    *got = 0;
    LARGE_INTEGER at;
    at.QuadPart = position;
    HRESULT hr = m_pStream->Seek(at, STREAM_SEEK_SET, nullptr);
    // A stream's Read may hand fewer bytes than asked before its end: read on until the end or the length.
    while (SUCCEEDED(hr) && *got < length) {
        ULONG n = 0;
        hr = m_pStream->Read(buffer + *got, static_cast<ULONG>(length - *got), &n);
        if (FAILED(hr)) break;
        *got += static_cast<LONG>(n);
        if (n == 0 || hr == S_FALSE) break;
    }
    return FAILED(hr) ? hr : S_OK;
}
