// A byte stream over a file: positional reads with 64-bit offsets.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "byte_stream_base.h"
#include "mfapi.h"

namespace {
HRESULT FromErrno(int e) {
    switch (e) {
    case ENOENT: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM: return E_ACCESSDENIED;
    case ENOMEM: return E_OUTOFMEMORY;
    default: return E_FAIL;
    }
}

// Windows tells a missing folder (path not found) from a missing file in an existing folder.
bool ParentExists(const char* path) {
    std::string parent(path);
    size_t slash = parent.find_last_of('/');
    if (slash == std::string::npos) return true;
    parent.resize(slash ? slash : 1);
    struct stat st;
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FileByteStream final : public ReadOnlyByteStream {
    PLAT_REFCOUNT(FileByteStream)
    explicit FileByteStream(int fd) : m_fd(fd) {}

protected:
    HRESULT ReadAt(QWORD position, BYTE* buffer, ULONG count, ULONG* read) override {
        ULONG done = 0;
        while (done < count) {
            ssize_t n = pread(m_fd, buffer + done, count - done, static_cast<off_t>(position + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return FromErrno(errno);
            }
            if (n == 0) break;
            done += static_cast<ULONG>(n);
        }
        *read = done;
        return S_OK;
    }
    HRESULT LengthOf(QWORD* length) override {
        struct stat st;
        if (fstat(m_fd, &st) != 0) return FromErrno(errno);
        *length = static_cast<QWORD>(st.st_size);
        return S_OK;
    }

private:
    ~FileByteStream() override { close(m_fd); }
    int m_fd;
};
} // namespace

extern "C" HRESULT MFCreateFileByteStreamA(const char* path, IMFByteStream** stream) {
    if (!path || !stream) return E_POINTER;
    *stream = nullptr;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        if (e == ENOENT && !ParentExists(path)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        return FromErrno(e);
    }
    struct stat st = {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        return E_ACCESSDENIED;
    }
    HRESULT hr = PlatCreate<FileByteStream>(stream, fd);
    if (FAILED(hr)) {
        close(fd);
        return hr;
    }
    // As Media Foundation's file byte stream: its modification time on its attributes (a FILETIME: 100 ns
    // since 1601).
    IMFAttributes* attributes = nullptr;
    if (SUCCEEDED((*stream)->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes)))) {
        const uint64_t ticks = (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                               static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
        const FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        hr = attributes->SetBlob(MF_BYTESTREAM_LAST_MODIFIED_TIME, reinterpret_cast<const UINT8*>(&time),
                                 sizeof(time));
        attributes->Release();
    }
    if (FAILED(hr)) {
        (*stream)->Release();
        *stream = nullptr;
    }
    return hr;
}
