// The source's one path to the file bytes: a synchronous, positional reader over the host's byte stream.
// It keeps the method set of the DirectShow async reader, of which only the synchronous read and the
// length are implemented, plus flushing and seeking passed through to the byte stream.
#pragma once
#include <atomic>

#include "platform/platform.h"
#include "support/alloc.h"

struct IStreamReader : IAsyncReader {
    virtual HRESULT Flush() = 0;
    virtual HRESULT Seek(DWORD origin, LONGLONG offset, DWORD flags, QWORD* current) = 0;
    virtual HRESULT SetPosition(LONGLONG offset, DWORD origin, QWORD* position) = 0;

protected:
    ~IStreamReader() = default;
};

class StreamReader final : public IStreamReader, public CNoThrowAlloc {
public:
    explicit StreamReader(IMFByteStream* stream);

    HRESULT QueryInterface(REFIID, void** ppv) override; // never handed to code that queries it
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override {
        return NotImplemented();
    }
    HRESULT Request(IMediaSample*, DWORD_PTR) override { return NotImplemented(); }
    HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return NotImplemented(); }
    HRESULT SyncReadAligned(IMediaSample*) override { return NotImplemented(); }
    HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
    // The same, also telling how many bytes were read (0 on failure).
    HRESULT SyncReadCount(LONGLONG position, LONG length, BYTE* buffer, LONG* got);
    HRESULT Length(LONGLONG* total, LONGLONG* available) override;
    HRESULT BeginFlush() override { return Flush(); }
    HRESULT EndFlush() override { return NotImplemented(); }
    HRESULT Flush() override;
    HRESULT Seek(DWORD origin, LONGLONG offset, DWORD flags, QWORD* current) override;
    HRESULT SetPosition(LONGLONG offset, DWORD origin, QWORD* position) override;

private:
    ~StreamReader();
    static HRESULT NotImplemented() { return E_NOTIMPL; }

    IMFByteStream* m_pStream;
    std::atomic<ULONG> m_cRef{1};
};
