#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
std::string TempPath(const char* name) {
    return std::string(::testing::TempDir()) + "/" + name + "." + std::to_string(getpid());
}
} // namespace

TEST(ByteStream, FileReadsAtSixtyFourBitOffsets) {
    // A sparse file just over 4 GiB with a marker at its end: positions and lengths must not wrap.
    std::string path = TempPath("big");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const off_t at = (off_t(1) << 32) + 100;
    ASSERT_EQ(pwrite(fd, "MARK", 4, at), 4);
    close(fd);

    PlatRef<IMFByteStream> s;
    ASSERT_EQ(MFCreateFileByteStreamA(path.c_str(), &s), S_OK);
    QWORD length = 0;
    ASSERT_EQ(s->GetLength(&length), S_OK);
    EXPECT_EQ(length, QWORD(at) + 4);
    BYTE buf[8] = {};
    ULONG read = 0;
    ASSERT_EQ(s->SetCurrentPosition(QWORD(at) - 2), S_OK);
    ASSERT_EQ(s->Read(buf, 8, &read), S_OK);
    EXPECT_EQ(read, 6u) << "a read at the end returns what is there";
    EXPECT_EQ(std::memcmp(buf + 2, "MARK", 4), 0);
    QWORD pos = 0;
    s->GetCurrentPosition(&pos);
    EXPECT_EQ(pos, QWORD(at) + 4);
    ASSERT_EQ(s->Read(buf, 8, &read), S_OK);
    EXPECT_EQ(read, 0u);
    ASSERT_EQ(s->Seek(msoBegin, 0, MFBYTESTREAM_SEEK_FLAG_CANCEL_PENDING_IO, &pos), S_OK);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(s->Seek(msoCurrent, -1, 0, &pos), E_INVALIDARG);
    s.Reset(nullptr);
    unlink(path.c_str());

    EXPECT_EQ(MFCreateFileByteStreamA("/nonexistent/file.ogg", &s), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(MFCreateFileByteStreamA(TempPath("missing").c_str(), &s), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST(ByteStream, FaultInjectionFailsShortensAndCounts) {
    const BYTE data[] = "0123456789abcdef";
    PlatRef<IMFByteStream> mem, faulty;
    ASSERT_EQ(MFCreateMemoryByteStream(data, 16, &mem), S_OK);
    FaultConfig c;
    c.failReadIndex = 1;
    c.readError = E_ABORT;
    c.shortReadLimit = 3;
    ASSERT_EQ(MFCreateFaultByteStream(mem.Get(), &c, &faulty), S_OK);
    BYTE buf[16];
    ULONG read = 0;
    EXPECT_EQ(faulty->Read(buf, 10, &read), S_OK);
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(faulty->Read(buf, 10, &read), E_ABORT);
    EXPECT_EQ(faulty->Read(buf, 10, &read), S_OK) << "only the chosen read fails";
    EXPECT_EQ(std::memcmp(buf, "345", 3), 0);

    PlatRef<IFaultByteStreamControl> control;
    ASSERT_EQ(faulty->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control)), S_OK);
    uint64_t reads = 0, bytes = 0;
    control->GetCounters(&reads, &bytes);
    EXPECT_EQ(reads, 3u);
    EXPECT_EQ(bytes, 6u);

    c = FaultConfig{};
    c.failReadIndex = 4;
    c.failAllAfter = true;
    c.lengthFails = true;
    control->Reconfigure(c);
    QWORD length = 0;
    EXPECT_EQ(faulty->GetLength(&length), E_FAIL);
    EXPECT_EQ(faulty->Read(buf, 1, &read), S_OK);
    EXPECT_EQ(faulty->Read(buf, 1, &read), E_FAIL);
    EXPECT_EQ(faulty->Read(buf, 1, &read), E_FAIL);
    c = FaultConfig{};
    c.lengthUnknown = true;
    control->Reconfigure(c);
    ASSERT_EQ(faulty->GetLength(&length), S_OK);
    EXPECT_EQ(length, ~QWORD(0));
}
