// A byte source that cannot seek, read from its start twice: what the open reads (discovery, from the first
// byte) is kept, and the first run's reader is served it again before it reads on from where the open
// stopped. The open reads at most the header cap of such a source, so what is kept is bounded; it is let go
// once a read goes past it.
#pragma once
#include <atomic>
#include <cstddef>

#include "byte_source.h"
#include "support/alloc.h"

class CReplaySource final : public IOggByteSource, public CNoThrowAlloc {
public:
    // Over `inner` (a reference is taken); E_OUTOFMEMORY without memory for it.
    static HRESULT Create(IOggByteSource* inner, CReplaySource** out);
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) override;
    ByteSourceCaps Caps() override { return m_pInner->Caps(); }
    // The open is over: nothing more is kept.
    void EndRecording() { m_recording = false; }

    // The most the open reads of a source that cannot seek: its window, then the headers it found, to their
    // cap.
    static constexpr size_t kMaxKept = kHeaderReadCap;

private:
    explicit CReplaySource(IOggByteSource* inner);
    ~CReplaySource();
    HRESULT Keep(const BYTE* data, size_t n);

    std::atomic<ULONG> m_refs{1};
    IOggByteSource* m_pInner;
    // Used by one thread at a time: the open's, then the reader's (which starts after the open).
    BYTE* m_kept = nullptr;
    size_t m_cKept = 0, m_capacity = 0;
    bool m_recording = true;
    bool m_lost = false; // the open read more than is kept: the start cannot be read again
};
