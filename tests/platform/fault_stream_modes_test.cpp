// The fault byte stream's poses (not seekable, no length, remote) and its gate for reads.
#include <gtest/gtest.h>

#include <thread>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
PlatRef<IMFByteStream> Faulty(const FaultConfig& c) {
    static const BYTE data[] = "0123456789abcdef";
    PlatRef<IMFByteStream> mem, faulty;
    EXPECT_EQ(MFCreateMemoryByteStream(data, 16, &mem), S_OK);
    EXPECT_EQ(MFCreateFaultByteStream(mem.Get(), &c, &faulty), S_OK);
    return faulty;
}

PlatRef<IFaultByteStreamControl> Control(IMFByteStream* s) {
    PlatRef<IFaultByteStreamControl> control;
    EXPECT_EQ(s->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control)), S_OK);
    return control;
}
} // namespace

TEST(FaultByteStream, PosesAsALiveStreamWithoutLengthOrSeek) {
    FaultConfig c;
    c.lengthUnknown = true;
    c.notSeekable = true;
    PlatRef<IMFByteStream> s = Faulty(c);
    DWORD caps = 0;
    ASSERT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps & MFBYTESTREAM_IS_SEEKABLE, 0u);
    EXPECT_EQ(caps & MFBYTESTREAM_IS_REMOTE, 0u);
    QWORD length = 0;
    ASSERT_EQ(s->GetLength(&length), S_OK);
    EXPECT_EQ(length, ~QWORD(0));
    EXPECT_EQ(s->SetCurrentPosition(4), MF_E_BYTESTREAM_NOT_SEEKABLE);
    EXPECT_EQ(s->SetCurrentPosition(0), S_OK) << "the current position is allowed";
    BYTE buf[8];
    ULONG read = 0;
    ASSERT_EQ(s->Read(buf, 5, &read), S_OK);
    ASSERT_EQ(read, 5u);
    QWORD at = 0;
    EXPECT_EQ(s->Seek(msoBegin, 0, 0, &at), MF_E_BYTESTREAM_NOT_SEEKABLE) << "no going back";
    EXPECT_EQ(s->Seek(msoCurrent, 2, 0, &at), MF_E_BYTESTREAM_NOT_SEEKABLE) << "nor ahead";
    EXPECT_EQ(s->Seek(msoCurrent, 0, 0, &at), S_OK);
    EXPECT_EQ(at, 5u);
    EXPECT_EQ(s->Seek(msoBegin, 5, 0, &at), S_OK);
    ASSERT_EQ(s->Read(buf, 8, &read), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), read), "56789abc");
}

TEST(FaultByteStream, PosesAsRemoteWithSlowSeeks) {
    FaultConfig c;
    c.remote = true;
    DWORD caps = 0;
    ASSERT_EQ(Faulty(c)->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_SEEKABLE | MFBYTESTREAM_IS_REMOTE |
                        MFBYTESTREAM_HAS_SLOW_SEEK);
    c.notSeekable = true;
    ASSERT_EQ(Faulty(c)->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_REMOTE)
        << "no slow seek where there is no seek";
}

TEST(FaultByteStream, HeldReadsWaitUntilReleased) {
    PlatRef<IMFByteStream> s = Faulty(FaultConfig{});
    PlatRef<IFaultByteStreamControl> control = Control(s.Get());
    control->HoldReads(true);
    BYTE buf[4] = {};
    ULONG read = 0;
    HRESULT hr = E_FAIL;
    std::thread reader([&] { hr = s->Read(buf, 4, &read); });
    control->WaitForHeldReads(1);
    EXPECT_EQ(control->HeldReads(), 1u);
    QWORD at = 1;
    EXPECT_EQ(s->GetCurrentPosition(&at), S_OK) << "other calls go on while a read is held";
    EXPECT_EQ(at, 0u);
    control->HoldReads(false);
    reader.join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "0123");
    EXPECT_EQ(control->HeldReads(), 0u);
}

TEST(FaultByteStream, CloseFailsAHeldReadAndEveryLaterOne) {
    PlatRef<IMFByteStream> s = Faulty(FaultConfig{});
    PlatRef<IFaultByteStreamControl> control = Control(s.Get());
    control->HoldReads(true);
    BYTE buf[4];
    ULONG read = 7;
    HRESULT hr = S_OK;
    std::thread reader([&] { hr = s->Read(buf, 4, &read); });
    control->WaitForHeldReads(1);
    EXPECT_EQ(s->Close(), S_OK);
    reader.join(); // the read is still held: only the close can have ended it
    EXPECT_EQ(hr, MF_E_SHUTDOWN);
    EXPECT_EQ(read, 0u);
    control->HoldReads(false);
    EXPECT_EQ(s->Read(buf, 4, &read), MF_E_SHUTDOWN);
}
