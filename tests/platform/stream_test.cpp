// IStream over memory and over files, as the shell's SHCreateMemStream and SHCreateStreamOnFileEx make them.
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
LARGE_INTEGER Move(LONGLONG v) {
    LARGE_INTEGER m;
    m.QuadPart = v;
    return m;
}
ULARGE_INTEGER Size(ULONGLONG v) {
    ULARGE_INTEGER s;
    s.QuadPart = v;
    return s;
}
std::string ReadAll(IStream* s) {
    s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    std::string out;
    char buf[7]; // small, so that reads end in the middle of the content
    ULONG n = 0;
    while (SUCCEEDED(s->Read(buf, sizeof buf, &n)) && n > 0)
        out.append(buf, n);
    return out;
}

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/oggsource-stream-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::wstring Wide(const std::wstring& name) const {
        std::wstring w;
        for (char c : path + "/")
            w += static_cast<wchar_t>(c); // mkdtemp's name is ASCII
        return w + name;
    }
};
} // namespace

TEST(MemStream, ReadsWritesSeeksAndGrows) {
    const BYTE init[] = "hello world";
    PlatRef<IStream> s;
    s.Attach(SHCreateMemStream(init, 11));
    ASSERT_TRUE(s);
    BYTE buf[32];
    ULONG n = 0;
    ASSERT_EQ(s->Read(buf, 5, &n), S_OK);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::memcmp(buf, "hello", 5), 0);
    EXPECT_EQ(s->Read(buf, 32, &n), S_FALSE) << "fewer bytes than asked: the end";
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(s->Read(buf, 4, &n), S_FALSE);
    EXPECT_EQ(n, 0u);

    ULARGE_INTEGER pos;
    ASSERT_EQ(s->Seek(Move(-5), STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 6u);
    ASSERT_EQ(s->Write("WORLD!", 6, &n), S_OK);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(ReadAll(s.Get()), "hello WORLD!");

    ASSERT_EQ(s->Seek(Move(3), STREAM_SEEK_END, nullptr), S_OK); // past the end: a gap of zeros on write
    ASSERT_EQ(s->Write("z", 1, nullptr), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), std::string("hello WORLD!\0\0\0z", 16));
    EXPECT_EQ(s->Seek(Move(-1), STREAM_SEEK_SET, &pos), STG_E_INVALIDFUNCTION) << "before the start";
    EXPECT_EQ(s->Seek(Move(0), 3, &pos), STG_E_INVALIDFUNCTION) << "no such origin";

    ASSERT_EQ(s->SetSize(Size(5)), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "hello");
    STATSTG st;
    ASSERT_EQ(s->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(st.cbSize.QuadPart, 5u);
    EXPECT_EQ(st.pwcsName, nullptr) << "a memory stream has no name";
    PlatRef<IStream> clone;
    EXPECT_EQ(s->Clone(&clone), E_NOTIMPL);
}

TEST(MemStream, EmptyOrNullStartAndCopyTo) {
    PlatRef<IStream> empty;
    empty.Attach(SHCreateMemStream(nullptr, 100)); // no initial content without a buffer
    ASSERT_TRUE(empty);
    STATSTG st;
    ASSERT_EQ(empty->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 0u);

    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    PlatRef<IStream> src;
    src.Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(big.data()), static_cast<UINT>(big.size())));
    ASSERT_EQ(src->Seek(Move(10), STREAM_SEEK_SET, nullptr), S_OK);
    ULARGE_INTEGER read, written;
    ASSERT_EQ(src->CopyTo(empty.Get(), Size(50000), &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 50000u);
    EXPECT_EQ(written.QuadPart, 50000u);
    EXPECT_EQ(ReadAll(empty.Get()), big.substr(10, 50000));
    ASSERT_EQ(src->CopyTo(empty.Get(), Size(1ull << 40), &read, &written), S_OK) << "more than there is";
    EXPECT_EQ(read.QuadPart, big.size() - 50010);
}

TEST(MemStream, RefusedAllocationsGiveNoStream) {
    const BYTE data[10] = {};
    for (long index : {0L, 1L}) { // the object, then its block
        PlatFailAllocation(index, 0);
        IStream* s = SHCreateMemStream(data, sizeof data);
        PlatFailAllocation(-1, 0);
        EXPECT_EQ(s, nullptr) << "allocation " << index;
        if (s) s->Release();
    }
}

TEST(FileStream, ReadsAFileAndRefusesWritesWhenOpenedForReading) {
    TempDir dir;
    { std::ofstream(dir.path + "/in.bin", std::ios::binary) << "0123456789abcdef"; }
    PlatRef<IStream> s;
    ASSERT_EQ(SHCreateStreamOnFileEx(dir.Wide(L"in.bin").c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE,
                                     nullptr, &s),
              S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "0123456789abcdef");
    ULARGE_INTEGER pos;
    ASSERT_EQ(s->Seek(Move(-4), STREAM_SEEK_END, &pos), S_OK);
    BYTE buf[8];
    ULONG n = 0;
    EXPECT_EQ(s->Read(buf, 8, &n), S_FALSE);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "cdef");
    EXPECT_EQ(s->Write("x", 1, &n), STG_E_ACCESSDENIED);
    EXPECT_EQ(s->SetSize(Size(0)), STG_E_ACCESSDENIED);

    STATSTG st;
    ASSERT_EQ(s->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 16u);
    ASSERT_NE(st.pwcsName, nullptr);
    EXPECT_EQ(std::wstring(st.pwcsName), dir.Wide(L"in.bin"));
    CoTaskMemFree(st.pwcsName);
    struct stat info;
    ASSERT_EQ(stat((dir.path + "/in.bin").c_str(), &info), 0);
    const ULONGLONG mtime = (static_cast<ULONGLONG>(st.mtime.dwHighDateTime) << 32) | st.mtime.dwLowDateTime;
    EXPECT_EQ(mtime / 10000000 - 11644473600ull, static_cast<ULONGLONG>(info.st_mtime))
        << "FILETIME counts from 1601";
    EXPECT_EQ(st.grfMode, static_cast<DWORD>(STGM_READ | STGM_SHARE_DENY_WRITE));
}

TEST(FileStream, CreationFlagsAndErrorsAsTheShellGivesThem) {
    TempDir dir;
    PlatRef<IStream> s;
    EXPECT_EQ(SHCreateStreamOnFileEx(dir.Wide(L"none.bin").c_str(), STGM_READ, 0, FALSE, nullptr, &s),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SHCreateStreamOnFileEx(dir.Wide(L"no/such.bin").c_str(), STGM_READ, 0, FALSE, nullptr, &s),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(SHCreateStreamOnFileEx(dir.Wide(L"").c_str(), STGM_READ, 0, FALSE, nullptr, &s), E_ACCESSDENIED)
        << "a folder is no stream";
    EXPECT_FALSE(s);

    const std::wstring name = dir.Wide(L"tëst✓.bin"); // a name that is not ASCII, as UTF-8 on disk
    ASSERT_EQ(SHCreateStreamOnFileEx(name.c_str(), STGM_READWRITE, 0, TRUE, nullptr, &s), S_OK);
    ASSERT_EQ(s->Write("abcdef", 6, nullptr), S_OK);
    ASSERT_EQ(s->SetSize(Size(4)), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "abcd");
    s.Reset(nullptr);
    EXPECT_EQ(access((dir.path + "/tëst✓.bin").c_str(), F_OK), 0);
    EXPECT_EQ(SHCreateStreamOnFileEx(name.c_str(), STGM_WRITE | STGM_FAILIFTHERE, 0, TRUE, nullptr, &s),
              HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
    ASSERT_EQ(SHCreateStreamOnFileEx(name.c_str(), STGM_WRITE | STGM_CREATE, 0, FALSE, nullptr, &s), S_OK);
    STATSTG st;
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 0u) << "STGM_CREATE truncates";
    EXPECT_EQ(st.pwcsName, nullptr);
    BYTE b;
    EXPECT_EQ(s->Read(&b, 1, nullptr), STG_E_ACCESSDENIED) << "opened for writing only";

    IStream* templ = s.Get();
    PlatRef<IStream> other;
    EXPECT_EQ(SHCreateStreamOnFileEx(name.c_str(), STGM_READ, 0, FALSE, templ, &other), E_INVALIDARG);
    EXPECT_EQ(SHCreateStreamOnFileEx(name.c_str(), 3, 0, FALSE, nullptr, &other), E_INVALIDARG);
    EXPECT_EQ(SHCreateStreamOnFileEx(nullptr, STGM_READ, 0, FALSE, nullptr, &other), E_INVALIDARG);
    const wchar_t surrogate[] = {L'/', L't', L'm', L'p', L'/', static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(SHCreateStreamOnFileEx(surrogate, STGM_READ, 0, FALSE, nullptr, &other),
              HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
}

TEST(FileStream, OffsetsBeyondFourGigabytes) {
    TempDir dir;
    PlatRef<IStream> s;
    ASSERT_EQ(SHCreateStreamOnFileEx(dir.Wide(L"sparse.bin").c_str(), STGM_READWRITE | STGM_CREATE, 0, FALSE,
                                     nullptr, &s),
              S_OK);
    const ULONGLONG far = (5ull << 30) + 3;
    ASSERT_EQ(s->Seek(Move(static_cast<LONGLONG>(far)), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(s->Write("tail", 4, nullptr), S_OK);
    STATSTG st;
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, far + 4);
    ULARGE_INTEGER pos;
    ASSERT_EQ(s->Seek(Move(-6), STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, far - 2);
    BYTE buf[6];
    ULONG n = 0;
    ASSERT_EQ(s->Read(buf, 6, &n), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), std::string("\0\0tail", 6));
}
