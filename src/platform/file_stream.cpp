// The shell's stream over a file: positional reads and writes with 64-bit offsets, the file's times in Stat.
#include <cerrno>
#include <cwchar>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "shlwapi.h"
#include "stream_base.h"

namespace {
HRESULT FromErrno(int e) {
    switch (e) {
    case ENOENT:
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EEXIST:
        return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return E_ACCESSDENIED;
    case ENOMEM:
        return E_OUTOFMEMORY;
    case ENOSPC:
        return STG_E_MEDIUMFULL;
    default:
        return E_FAIL;
    }
}

// The path as UTF-8; false when it holds a character that is no Unicode scalar value.
bool Utf8Path(LPCWSTR path, std::string* out) {
    for (; *path; ++path) {
        const auto c = static_cast<uint32_t>(*path);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (c < 0x80) {
            *out += static_cast<char>(c);
        } else if (c < 0x800) {
            *out += static_cast<char>(0xC0 | c >> 6);
            *out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out += static_cast<char>(0xE0 | c >> 12);
            *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | c >> 18);
            *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return true;
}

// Windows tells a missing folder (path not found) from a missing file in an existing folder.
HRESULT OpenError(int e, const std::string& path) {
    if (e != ENOENT) return FromErrno(e);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return FromErrno(e);
    struct stat st;
    const std::string parent = path.substr(0, slash ? slash : 1);
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? FromErrno(e)
                                                                 : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

FILETIME FileTimeOf(const struct timespec& t) {
    // 100-ns units since 1601: 11644473600 s lie between then and 1970.
    const ULONGLONG units = (static_cast<ULONGLONG>(t.tv_sec) + 11644473600ull) * 10000000ull +
                            static_cast<ULONGLONG>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

class FileStream final : public StreamBase {
    PLAT_REFCOUNT(FileStream)
    FileStream(int fd, DWORD mode, LPWSTR name) : StreamBase(mode), m_fd(fd), m_name(name) {}

protected:
    HRESULT ReadAt(ULONGLONG position, void* pv, ULONG cb, ULONG* read) override {
        ULONG done = 0;
        while (done < cb && position + done <= static_cast<ULONGLONG>(INT64_MAX)) {
            ssize_t n =
                pread(m_fd, static_cast<BYTE*>(pv) + done, cb - done, static_cast<off_t>(position + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return STG_E_READFAULT;
            }
            if (n == 0) break;
            done += static_cast<ULONG>(n);
        }
        *read = done;
        return S_OK;
    }
    HRESULT WriteAt(ULONGLONG position, const void* pv, ULONG cb) override {
        ULONG done = 0;
        while (done < cb) {
            ssize_t n = pwrite(m_fd, static_cast<const BYTE*>(pv) + done, cb - done,
                               static_cast<off_t>(position + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno == ENOSPC || errno == EFBIG ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
            }
            done += static_cast<ULONG>(n);
        }
        return S_OK;
    }
    HRESULT SizeOf(ULONGLONG* size) override {
        struct stat st;
        if (fstat(m_fd, &st) != 0) return FromErrno(errno);
        *size = static_cast<ULONGLONG>(st.st_size);
        return S_OK;
    }
    HRESULT Resize(ULONGLONG size) override {
        if (size > static_cast<ULONGLONG>(INT64_MAX)) return STG_E_INVALIDFUNCTION;
        return ftruncate(m_fd, static_cast<off_t>(size)) == 0 ? S_OK : FromErrno(errno);
    }
    HRESULT Describe(STATSTG* stat, bool withName) override {
        struct stat st;
        if (fstat(m_fd, &st) != 0) return FromErrno(errno);
        stat->mtime = FileTimeOf(st.st_mtim);
        stat->ctime = FileTimeOf(st.st_ctim);
        stat->atime = FileTimeOf(st.st_atim);
        if (withName) return SHStrDupW(m_name, &stat->pwcsName);
        return S_OK;
    }

private:
    ~FileStream() override {
        close(m_fd);
        CoTaskMemFree(m_name);
    }
    int m_fd;
    LPWSTR m_name; // the path as it was given, which Stat names
};

// open(2) flags for the mode; -1 for a mode with no meaning.
int OpenFlags(DWORD grfMode, BOOL fCreate) {
    int flags = O_CLOEXEC;
    switch (grfMode & 3) {
    case STGM_READ:
        flags |= O_RDONLY;
        break;
    case STGM_WRITE:
        flags |= O_WRONLY;
        break;
    case STGM_READWRITE:
        flags |= O_RDWR;
        break;
    default:
        return -1;
    }
    if (grfMode & STGM_CREATE)
        flags |= O_CREAT | O_TRUNC;
    else if (fCreate)
        flags |= O_CREAT | O_EXCL;
    return flags;
}
} // namespace

extern "C" HRESULT SHCreateStreamOnFileEx(LPCWSTR pszFile, DWORD grfMode, DWORD, BOOL fCreate,
                                          IStream* pstmTemplate, IStream** ppstm) {
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    if (!pszFile || pstmTemplate) return E_INVALIDARG;
    const int flags = OpenFlags(grfMode, fCreate);
    if (flags < 0) return E_INVALIDARG;
    std::string path;
    try {
        if (!Utf8Path(pszFile, &path)) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    LPWSTR name = nullptr;
    HRESULT hr = SHStrDupW(pszFile, &name);
    if (FAILED(hr)) return hr;
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        const int e = errno;
        CoTaskMemFree(name);
        try {
            return OpenError(e, path);
        } catch (...) {
            return FromErrno(e);
        }
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        CoTaskMemFree(name);
        return E_ACCESSDENIED;
    }
    FileStream* stream = nullptr;
    hr = PlatCreate<FileStream>(&stream, fd, grfMode, name);
    if (FAILED(hr)) {
        close(fd);
        CoTaskMemFree(name);
        return hr;
    }
    *ppstm = stream;
    return S_OK;
}
