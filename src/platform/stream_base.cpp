#include "stream_base.h"

#include <cstring>

HRESULT StreamBase::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    if (!Readable()) return STG_E_ACCESSDENIED;
    std::lock_guard<std::mutex> g(m_lock);
    ULONG read = 0;
    HRESULT hr = ReadAt(m_position, pv, cb, &read);
    if (FAILED(hr)) return hr;
    m_position += read;
    if (pcbRead) *pcbRead = read;
    return read == cb ? S_OK : S_FALSE;
}

HRESULT StreamBase::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    if (!Writable()) return STG_E_ACCESSDENIED;
    std::lock_guard<std::mutex> g(m_lock);
    if (m_position > UINT64_MAX - cb) return STG_E_MEDIUMFULL;
    HRESULT hr = cb ? WriteAt(m_position, pv, cb) : S_OK;
    if (FAILED(hr)) return hr;
    m_position += cb;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
}

HRESULT StreamBase::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
    std::lock_guard<std::mutex> g(m_lock);
    ULONGLONG base = 0;
    if (dwOrigin == STREAM_SEEK_CUR) {
        base = m_position;
    } else if (dwOrigin == STREAM_SEEK_END) {
        HRESULT hr = SizeOf(&base);
        if (FAILED(hr)) return hr;
    } else if (dwOrigin != STREAM_SEEK_SET) {
        return STG_E_INVALIDFUNCTION;
    }
    const LONGLONG move = dlibMove.QuadPart;
    // Before the start is refused; so is a position beyond the signed 64-bit range.
    if (move < 0 ? static_cast<ULONGLONG>(-(move + 1)) + 1 > base
                 : static_cast<ULONGLONG>(move) > static_cast<ULONGLONG>(INT64_MAX) - base)
        return STG_E_INVALIDFUNCTION;
    m_position =
        move < 0 ? base - (static_cast<ULONGLONG>(-(move + 1)) + 1) : base + static_cast<ULONGLONG>(move);
    if (plibNewPosition) plibNewPosition->QuadPart = m_position;
    return S_OK;
}

HRESULT StreamBase::SetSize(ULARGE_INTEGER libNewSize) {
    if (!Writable()) return STG_E_ACCESSDENIED;
    std::lock_guard<std::mutex> g(m_lock);
    return Resize(libNewSize.QuadPart);
}

HRESULT StreamBase::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                           ULARGE_INTEGER* pcbWritten) {
    if (pcbRead) pcbRead->QuadPart = 0;
    if (pcbWritten) pcbWritten->QuadPart = 0;
    if (!pstm) return STG_E_INVALIDPOINTER;
    BYTE chunk[16384];
    ULONGLONG left = cb.QuadPart, totalRead = 0, totalWritten = 0;
    HRESULT hr = S_OK;
    while (left > 0) {
        ULONG want = left < sizeof chunk ? static_cast<ULONG>(left) : static_cast<ULONG>(sizeof chunk),
              got = 0;
        hr = Read(chunk, want, &got);
        if (FAILED(hr) || got == 0) break;
        totalRead += got;
        ULONG written = 0;
        hr = pstm->Write(chunk, got, &written);
        totalWritten += written;
        if (FAILED(hr)) break;
        left -= got;
        if (got < want) break; // the end of this stream
    }
    if (pcbRead) pcbRead->QuadPart = totalRead;
    if (pcbWritten) pcbWritten->QuadPart = totalWritten;
    return FAILED(hr) ? hr : S_OK;
}

HRESULT StreamBase::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    if (grfStatFlag > (STATFLAG_NONAME | STATFLAG_NOOPEN)) return STG_E_INVALIDFLAG;
    std::memset(pstatstg, 0, sizeof *pstatstg);
    std::lock_guard<std::mutex> g(m_lock);
    ULONGLONG size = 0;
    HRESULT hr = SizeOf(&size);
    if (FAILED(hr)) return hr;
    hr = Describe(pstatstg, !(grfStatFlag & STATFLAG_NONAME));
    if (FAILED(hr)) return hr;
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = size;
    pstatstg->grfMode = m_mode;
    return S_OK;
}
