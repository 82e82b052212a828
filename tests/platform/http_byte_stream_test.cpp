// The http byte stream against the test server: ranges, plain and close-delimited replies, failures
// with their causes, the bounded receive buffer, and Close() cancelling a read that waits.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "common/http_fixture.h"
#include "platform/com_impl.h"
#include "platform/completion.h"
#include "platform/platform.h"

namespace {
std::string RandomBody(size_t size) {
    std::mt19937 rng(7);
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string ReadN(IMFByteStream* s, ULONG n, HRESULT* hr = nullptr) {
    std::string out(n, '\0');
    ULONG read = 0;
    HRESULT r = s->Read(reinterpret_cast<BYTE*>(out.data()), n, &read);
    if (hr)
        *hr = r;
    else
        EXPECT_EQ(r, S_OK);
    out.resize(read);
    return out;
}

// Reads until a short read (the end of the data).
std::string ReadAll(IMFByteStream* s) {
    std::string all;
    for (;;) {
        std::string part = ReadN(s, 7000);
        all += part;
        if (part.size() < 7000) return all;
    }
}

std::string LastError() {
    char text[1024];
    PlatLastNetworkError(text, sizeof text);
    return text;
}

class HttpByteStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        MFStartup(MF_VERSION, MFSTARTUP_FULL); // the resolver's callbacks run on the work queue
        ASSERT_TRUE(m_server.Start());
    }
    void TearDown() override { MFShutdown(); }
    HRESULT Open(const std::string& path, IMFByteStream** s) {
        return MFCreateHttpByteStreamA(m_server.Url(path).c_str(), s);
    }
    const std::string m_body = RandomBody(300000);
    HttpFixture m_server{m_body};
};
} // namespace

TEST_F(HttpByteStreamTest, RangesMakeItSeekableWithTheServersLength) {
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/file/a.ogg", &s), S_OK);
    DWORD caps = 0;
    ASSERT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_REMOTE | MFBYTESTREAM_IS_SEEKABLE |
                        MFBYTESTREAM_HAS_SLOW_SEEK);
    QWORD length = 0;
    ASSERT_EQ(s->GetLength(&length), S_OK);
    EXPECT_EQ(length, m_body.size());
    PlatRef<IMFAttributes> attributes;
    ASSERT_EQ(s->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes)), S_OK);
    WCHAR type[64] = {};
    ASSERT_EQ(attributes->GetString(MF_BYTESTREAM_CONTENT_TYPE, type, 64, nullptr), S_OK);
    EXPECT_EQ(std::wstring(type), L"audio/ogg");

    EXPECT_EQ(ReadN(s.Get(), 1000), m_body.substr(0, 1000));
    ASSERT_EQ(s->SetCurrentPosition(200000), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 5000), m_body.substr(200000, 5000));
    const unsigned before = m_server.Requests();
    QWORD at = 0;
    ASSERT_EQ(s->Seek(msoBegin, 10, 0, &at), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 3000), m_body.substr(10, 3000)) << "a seek backwards asks again, from that byte";
    EXPECT_EQ(m_server.Requests(), before + 1);
    ASSERT_EQ(s->Seek(msoCurrent, 2000, 0, &at), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 3000), m_body.substr(5010, 3000)) << "a short seek ahead reads through";
    EXPECT_EQ(m_server.Requests(), before + 1);
    ASSERT_EQ(s->SetCurrentPosition(m_body.size() - 10), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 100), m_body.substr(m_body.size() - 10)) << "short only at the end";
    EXPECT_EQ(ReadN(s.Get(), 100), "");
    BOOL end = FALSE;
    ASSERT_EQ(s->IsEndOfStream(&end), S_OK);
    EXPECT_TRUE(end);
}

TEST_F(HttpByteStreamTest, AServerWithoutRangesIsReadOnceFromTheStart) {
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/plain/a.ogg", &s), S_OK);
    DWORD caps = 0;
    ASSERT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_REMOTE);
    QWORD length = 0;
    ASSERT_EQ(s->GetLength(&length), S_OK);
    EXPECT_EQ(length, m_body.size()) << "the length the reply states";
    EXPECT_EQ(s->SetCurrentPosition(5), MF_E_BYTESTREAM_NOT_SEEKABLE);
    EXPECT_EQ(s->SetCurrentPosition(0), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 100), m_body.substr(0, 100));
    QWORD at = 0;
    EXPECT_EQ(s->Seek(msoBegin, 0, 0, &at), MF_E_BYTESTREAM_NOT_SEEKABLE);
    EXPECT_EQ(s->Seek(msoCurrent, 0, 0, &at), S_OK);
    EXPECT_EQ(at, 100u);
    EXPECT_EQ(m_body.substr(100), ReadAll(s.Get()));
    EXPECT_EQ(m_server.Requests(), 1u);
}

TEST_F(HttpByteStreamTest, AReplyWithoutLengthHasAnUnknownLengthAndEndsWithAShortRead) {
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/nolength/a.ogg", &s), S_OK);
    QWORD length = 0;
    ASSERT_EQ(s->GetLength(&length), S_OK);
    EXPECT_EQ(length, ~QWORD(0));
    DWORD caps = 0;
    ASSERT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps & MFBYTESTREAM_IS_SEEKABLE, 0u);
    BOOL end = TRUE;
    ASSERT_EQ(s->IsEndOfStream(&end), S_OK);
    EXPECT_FALSE(end);
    EXPECT_EQ(ReadAll(s.Get()), m_body);
    ASSERT_EQ(s->IsEndOfStream(&end), S_OK);
    EXPECT_TRUE(end);
    QWORD at = 0;
    ASSERT_EQ(s->GetCurrentPosition(&at), S_OK);
    EXPECT_EQ(at, m_body.size());
}

TEST_F(HttpByteStreamTest, ASlowServerStillGivesFullReads) {
    m_server.SetBytesPerSecond(400000);
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/nolength/a.ogg", &s), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 60000), m_body.substr(0, 60000)) << "a read waits for all it asked for";
}

TEST_F(HttpByteStreamTest, FailuresSayWhy) {
    PlatRef<IMFByteStream> s;
    EXPECT_EQ(Open("/status/404", &s), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(s);
    EXPECT_NE(LastError().find("HTTP 404 Not Found"), std::string::npos) << LastError();
    EXPECT_EQ(Open("/status/500", &s), MF_E_NET_INTERNAL_SERVER_ERROR);
    EXPECT_NE(LastError().find("HTTP 500"), std::string::npos) << LastError();
    EXPECT_EQ(Open("/redirect-file", &s), MF_E_UNSUPPORTED_SCHEME) << "never to file:";
    EXPECT_EQ(Open("/redirect-loop", &s), MF_E_NET_TOO_MANY_REDIRECTS);
    EXPECT_EQ(Open("/headers", &s), MF_E_NET_BAD_CONTROL_DATA);
    EXPECT_NE(LastError().find("header"), std::string::npos) << LastError();
    EXPECT_EQ(MFCreateHttpByteStreamA("ftp://127.0.0.1/a.ogg", &s), MF_E_UNSUPPORTED_SCHEME);

    // A port nobody listens on: refused at once.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n), 0);
    close(fd);
    const std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/a.ogg";
    EXPECT_EQ(MFCreateHttpByteStreamA(refused.c_str(), &s), MF_E_NET_CANNOTCONNECT);
    EXPECT_NE(LastError().find(refused), std::string::npos) << LastError();
}

TEST_F(HttpByteStreamTest, RedirectsToHttpAreFollowed) {
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/redirect/file/a.ogg", &s), S_OK);
    DWORD caps = 0;
    ASSERT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_NE(caps & MFBYTESTREAM_IS_SEEKABLE, 0u);
    ASSERT_EQ(s->SetCurrentPosition(1000), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 500), m_body.substr(1000, 500));
}

TEST_F(HttpByteStreamTest, AResetMidReplyFailsTheReadWithTheCause) {
    m_server.ResetAt(50000);
    // The reset waits until the client has read the bytes before it: a reset makes the client's kernel drop what
    // it holds unread, so a client slower than the server would lose them too.
    m_server.StallAt(45000);
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/reset/a.ogg", &s), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 40000), m_body.substr(0, 40000));
    m_server.Release();
    HRESULT hr = S_OK;
    EXPECT_EQ(ReadN(s.Get(), 40000, &hr), "");
    EXPECT_EQ(hr, MF_E_NET_READ);
    PlatRef<IMFAttributes> attributes;
    ASSERT_EQ(s->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes)), S_OK);
    UINT32 length = 0;
    EXPECT_EQ(attributes->GetStringLength(PLAT_BYTESTREAM_LAST_ERROR, &length), S_OK);
    EXPECT_GT(length, 0u);
}

TEST_F(HttpByteStreamTest, CloseEndsAReadThatWaitsForAStalledServer) {
    m_server.StallAt(10000);
    PlatRef<IMFByteStream> http, s;
    ASSERT_EQ(Open("/nolength/a.ogg", &http), S_OK);
    // The fault wrapper counts reads as they begin: the test knows the second one has started.
    ASSERT_EQ(MFCreateFaultByteStream(http.Get(), nullptr, &s), S_OK);
    PlatRef<IFaultByteStreamControl> control;
    ASSERT_EQ(s->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 4000), m_body.substr(0, 4000));
    HRESULT hr = S_OK;
    std::string got = "unset";
    std::thread reader([&] { got = ReadN(s.Get(), 20000, &hr); });
    m_server.WaitStalled();
    for (uint64_t reads = 0; reads < 2; std::this_thread::yield())
        control->GetCounters(&reads, nullptr);
    EXPECT_EQ(s->Close(), S_OK);
    reader.join(); // the server still holds the reply: only the close can end the read
    EXPECT_EQ(hr, MF_E_SHUTDOWN);
    EXPECT_EQ(got, "");
    EXPECT_EQ(m_server.BytesSent(), 10000u);
    m_server.Release();
    EXPECT_EQ(ReadN(s.Get(), 10, &hr), "");
    EXPECT_EQ(hr, MF_E_SHUTDOWN);
}

TEST_F(HttpByteStreamTest, AnEndlessReplyIsHeldBackNotBuffered) {
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/endless/a.ogg", &s), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 1000), m_body.substr(0, 1000));
    // Nobody reads: the server must come to a halt (the stream's buffer full, the transfer paused, the
    // socket buffers full) instead of the client taking all it sends.
    uint64_t last = ~uint64_t(0);
    for (int stable = 0, i = 0; stable < 5 && i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const uint64_t now = m_server.BytesSent();
        stable = now == last ? stable + 1 : 0;
        last = now;
    }
    EXPECT_LT(last, uint64_t(32) << 20) << "the client took " << last << " bytes it was not asked for";
    const std::string more = ReadN(s.Get(), 1000000);
    std::string expected;
    while (expected.size() < 1001000)
        expected += m_body;
    EXPECT_EQ(more, expected.substr(1000, 1000000)) << "the endless body goes on where it was";
}

// The resolver's asynchronous open of a URL: the byte stream through the callback, and a cancel that ends
// an open waiting for a server that never answers.
TEST_F(HttpByteStreamTest, TheResolverOpensAUrlAsynchronously) {
    PlatRef<IMFSourceResolver> resolver;
    ASSERT_EQ(MFCreateSourceResolver(&resolver), S_OK);
    PlatRef<PlatCompletion> done;
    done.Attach(new PlatCompletion);
    const std::string url = m_server.Url("/file/a.ogg");
    const std::wstring wide(url.begin(), url.end());
    PlatRef<IUnknown> cookie;
    ASSERT_EQ(resolver->BeginCreateObjectFromURL(wide.c_str(), MF_RESOLUTION_BYTESTREAM, nullptr, &cookie,
                                                 done.Get(), nullptr),
              S_OK);
    PlatRef<IMFAsyncResult> result = done->Take();
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    PlatRef<IUnknown> object;
    ASSERT_EQ(resolver->EndCreateObjectFromURL(result.Get(), &type, &object), S_OK);
    EXPECT_EQ(type, MF_OBJECT_BYTESTREAM);
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(object->QueryInterface(IID_IMFByteStream, reinterpret_cast<void**>(&s)), S_OK);
    EXPECT_EQ(ReadN(s.Get(), 100), m_body.substr(0, 100));
    EXPECT_EQ(resolver->CancelObjectCreation(cookie.Get()), S_OK) << "a finished open has nothing to cancel";
}

namespace {
// Whether a thread of this process is named `name` (what the module's threads set through the kernel).
bool ThreadRunning(const std::string& name) {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return false;
    bool found = false;
    for (dirent* e; !found && (e = readdir(tasks));) {
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string line;
        found = std::getline(comm, line) && line == name;
    }
    closedir(tasks);
    return found;
}
} // namespace

TEST_F(HttpByteStreamTest, CancellingAnOpenEndsItsWaitForTheServer) {
    // A server that takes the connection (the kernel's backlog) and never answers.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/a.ogg";
    const std::wstring wide(url.begin(), url.end());

    PlatRef<IMFSourceResolver> resolver;
    ASSERT_EQ(MFCreateSourceResolver(&resolver), S_OK);
    PlatRef<PlatCompletion> done;
    done.Attach(new PlatCompletion);
    PlatRef<IUnknown> cookie;
    ASSERT_EQ(resolver->BeginCreateObjectFromURL(wide.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &cookie,
                                                 done.Get(), nullptr),
              S_OK);
    // The request has arrived: the open now waits for the reply.
    const int client = accept(fd, nullptr, nullptr);
    ASSERT_GE(client, 0);
    std::string request;
    char buf[1024];
    for (ssize_t got;
         request.find("\r\n\r\n") == std::string::npos && (got = recv(client, buf, sizeof buf, 0)) > 0;)
        request.append(buf, static_cast<size_t>(got));
    EXPECT_EQ(request.rfind("GET /a.ogg HTTP/1.1\r\n", 0), 0u) << request;
    ASSERT_EQ(resolver->CancelObjectCreation(cookie.Get()), S_OK);
    // Without the cancel the open would end only at the reply timeout, with MF_E_NET_TIMEOUT.
    PlatRef<IMFAsyncResult> result = done->Take();
    MF_OBJECT_TYPE type = MF_OBJECT_MEDIASOURCE;
    PlatRef<IUnknown> object;
    EXPECT_EQ(resolver->EndCreateObjectFromURL(result.Get(), &type, &object), MF_E_OPERATION_CANCELLED);
    EXPECT_EQ(type, MF_OBJECT_INVALID);
    EXPECT_FALSE(object);
    EXPECT_EQ(resolver->CancelObjectCreation(resolver.Get()), E_INVALIDARG)
        << "not a cookie of this resolver";
    close(client);
    close(fd);
    // The open's thread lets the job go itself and ends on its own: it must end (and not outlive the test,
    // where what the TLS library keeps per thread would be reported as leaked).
    result.Reset(nullptr);
    cookie.Reset(nullptr);
    resolver.Reset(nullptr);
    for (int i = 0; i < 1000 && ThreadRunning("oggsource open"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(ThreadRunning("oggsource open")) << "the open's thread did not end";
}

// IMFByteStreamBuffering: while enabled, a read that waits for the network is bracketed by
// MEBufferingStarted and MEBufferingStopped on the stream's own event generator.
TEST_F(HttpByteStreamTest, AReadThatWaitsForTheServerIsBuffering) {
    m_server.StallAt(10000);
    PlatRef<IMFByteStream> s;
    ASSERT_EQ(Open("/nolength/a.ogg", &s), S_OK);
    PlatRef<IMFByteStreamBuffering> buffering;
    PlatRef<IMFMediaEventGenerator> events;
    ASSERT_EQ(s->QueryInterface(IID_IMFByteStreamBuffering, reinterpret_cast<void**>(&buffering)), S_OK);
    ASSERT_EQ(s->QueryInterface(IID_IMFMediaEventGenerator, reinterpret_cast<void**>(&events)), S_OK);
    MFBYTESTREAM_BUFFERING_PARAMS params{};
    EXPECT_EQ(buffering->SetBufferingParams(&params), S_OK);

    // Not enabled: a read held by the server for longer than the buffering delay sends nothing.
    HRESULT hr = E_FAIL;
    std::string got;
    std::thread first([&] { got = ReadN(s.Get(), 12000, &hr); });
    m_server.WaitStalled();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    m_server.StallAt(30000);
    first.join();
    EXPECT_EQ(got, m_body.substr(0, 12000));
    PlatRef<IMFMediaEvent> event;
    EXPECT_EQ(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE);

    ASSERT_EQ(buffering->EnableBuffering(TRUE), S_OK);
    std::thread second([&] { got = ReadN(s.Get(), 20000, &hr); });
    ASSERT_EQ(events->GetEvent(0, &event), S_OK); // waits for the event: no clock
    MediaEventType type = MEUnknown;
    event->GetType(&type);
    EXPECT_EQ(type, MEBufferingStarted);
    m_server.Release();
    second.join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(got, m_body.substr(12000, 20000));
    ASSERT_EQ(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), S_OK) << "the read that waited has its data";
    event->GetType(&type);
    EXPECT_EQ(type, MEBufferingStopped);
    EXPECT_EQ(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE);
    EXPECT_EQ(s->Close(), S_OK);
    EXPECT_EQ(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
}
