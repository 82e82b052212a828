// The core's byte source over the host's byte stream: positional reads (a seek and a read, one pair at a time),
// the length when the byte stream knows it, and its capabilities. It keeps the module loaded while it lives: the
// file's reader holds it until its last read has returned, which may be after the source was shut down.
#pragma once
#include <atomic>
#include <mutex>

#include "base_object.h"
#include "ogg/byte_source.h"
#include "support/alloc.h"

class StreamReader final : private MediaFoundationSamples::BaseObject, public IOggByteSource, public CNoThrowAlloc {
public:
    explicit StreamReader(IMFByteStream* stream);

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) override;
    ByteSourceCaps Caps() override;

private:
    ~StreamReader() override;

    IMFByteStream* m_pStream;
    std::mutex m_lock; // a position and the read after it go together; only the core's reads take it
    std::atomic<ULONG> m_cRef{1};
};
