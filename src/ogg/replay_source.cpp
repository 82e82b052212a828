#include "replay_source.h"

#include <cstdlib>
#include <cstring>

HRESULT CReplaySource::Create(IOggByteSource* inner, CReplaySource** out) {
    *out = new CReplaySource(inner);
    return *out ? S_OK : E_OUTOFMEMORY;
}

CReplaySource::CReplaySource(IOggByteSource* inner) : m_pInner(inner) { m_pInner->AddRef(); }

CReplaySource::~CReplaySource() {
    std::free(m_kept);
    m_pInner->Release();
}

ULONG CReplaySource::AddRef() { return ++m_refs; }

ULONG CReplaySource::Release() {
    const ULONG n = --m_refs;
    if (n == 0) delete this;
    return n;
}

HRESULT CReplaySource::ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) {
    *got = 0;
    if (position < 0 || length < 0) return E_INVALIDARG;
    const auto at = static_cast<size_t>(position);
    if (at < m_cKept) { // what the open read: served again (a short read: the rest comes from the source)
        const size_t n = m_cKept - at < static_cast<size_t>(length) ? m_cKept - at : static_cast<size_t>(length);
        std::memcpy(buffer, m_kept + at, n);
        *got = static_cast<LONG>(n);
        return S_OK;
    }
    if (!m_recording && m_kept) { // the reader has gone past what the open read: it is not needed again
        std::free(m_kept);
        m_kept = nullptr;
        m_cKept = m_capacity = 0;
    }
    const HRESULT hr = m_pInner->ReadAt(position, buffer, length, got);
    // Past the limit nothing more is kept: the first run then fails where the kept bytes end (the open never
    // reads that far).
    if (SUCCEEDED(hr) && m_recording && at == m_cKept && *got > 0 && !m_lost) {
        if (FAILED(Keep(buffer, static_cast<size_t>(*got)))) m_lost = true;
    }
    return hr;
}

HRESULT CReplaySource::Keep(const BYTE* data, size_t n) {
    if (m_cKept + n > kMaxKept) return E_OUTOFMEMORY;
    if (m_cKept + n > m_capacity) {
        size_t capacity = m_capacity ? m_capacity * 2 : 65536;
        while (capacity < m_cKept + n) capacity *= 2;
        auto* grown = static_cast<BYTE*>(ReallocBytes(m_kept, capacity));
        if (!grown) return E_OUTOFMEMORY;
        m_kept = grown;
        m_capacity = capacity;
    }
    std::memcpy(m_kept + m_cKept, data, n);
    m_cKept += n;
    return S_OK;
}
