// The core's byte source over a shell stream (IStream): a seek and a read per positional read, the length
// from the stream's Stat. The shell hands a property handler a stream it may read from one thread at a time.
#pragma once
#include <atomic>

#include "ogg/byte_source.h"
#include "platform/platform.h"
#include "support/alloc.h"

class CStreamByteSource final : public IOggByteSource, public CNoThrowAlloc {
public:
    explicit CStreamByteSource(IStream* stream);

    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override;
    HRESULT ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) override;
    ByteSourceCaps Caps() override { return m_caps; }

private:
    ~CStreamByteSource();
    IStream* m_pStream;
    ByteSourceCaps m_caps;
    std::atomic<ULONG> m_cRef{1};
};
