// Common part of the platform's IStream objects: the position, seeking, CopyTo and the methods that only say
// what the stream does not do. A derived class supplies the storage: reads and writes at an offset, its size,
// resizing and what Stat says besides the size.
#pragma once
#include <mutex>

#include "com_impl.h"
#include "objidl.h"

class StreamBase : public IStream {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB table[] = {
            QITABENT(StreamBase, IStream), QITABENT(StreamBase, ISequentialStream), {nullptr, 0}};
        return QISearch(this, table, riid, ppv);
    }
    // S_FALSE when fewer bytes than asked were there (the end of the stream).
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    HRESULT SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                   ULARGE_INTEGER* pcbWritten) override;
    HRESULT Commit(DWORD) override { return S_OK; } // writes go straight through
    HRESULT Revert() override { return S_OK; }      // nothing is held back to revert
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT Clone(IStream** ppstm) override {
        if (ppstm) *ppstm = nullptr;
        return E_NOTIMPL;
    }

protected:
    explicit StreamBase(DWORD mode) : m_mode(mode) {}
    virtual ~StreamBase() = default;
    bool Writable() const { return (m_mode & 3) == STGM_WRITE || (m_mode & 3) == STGM_READWRITE; }
    bool Readable() const { return (m_mode & 3) != STGM_WRITE; }

    // Under the stream's lock. Reads up to cb bytes at position (*read 0 at or past the end).
    virtual HRESULT ReadAt(ULONGLONG position, void* pv, ULONG cb, ULONG* read) = 0;
    // Writes cb bytes at position, growing the storage (a gap before it reads as zeros).
    virtual HRESULT WriteAt(ULONGLONG position, const void* pv, ULONG cb) = 0;
    virtual HRESULT SizeOf(ULONGLONG* size) = 0;
    virtual HRESULT Resize(ULONGLONG size) = 0;
    // The name (or null) and the times; the size and the rest are filled in by Stat.
    virtual HRESULT Describe(STATSTG* stat, bool withName) = 0;

private:
    std::mutex m_lock;
    ULONGLONG m_position = 0;
    const DWORD m_mode;
};
