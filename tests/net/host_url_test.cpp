// The command-line host with URLs served by the fixture server: a remote file plays as the same file
// read locally (the same JSON Lines), probes the same, and failures say the HTTP status.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "common/fixtures.h"
#include "common/http_fixture.h"
#include "common/shell.h"

namespace {
std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class HostUrlTest : public SourceTest {
protected:
    void SetUp() override {
        SourceTest::SetUp();
        m_file = MakeFile(
            "remote",
            R"({"streams": [{"kind": "theora", "serial": 5, "seconds": 3}, {"kind": "vorbis", "serial": 6, "seconds": 3}]})");
        m_server = std::make_unique<HttpFixture>(Slurp(m_file.path));
        ASSERT_TRUE(m_server->Start());
    }
    void TearDown() override {
        m_server->Stop();
        unlink(m_file.path.c_str());
        SourceTest::TearDown();
    }
    // The tool, with the test's registry (registered in SetUp).
    ShellOutput Tool(const std::string& args) {
        return RunShell("OGGSOURCE_REGISTRY=" + Quote(m_registry) + " " + Quote(OGGSOURCE_TOOL_PATH) + " " +
                        args);
    }
    void ExpectPlaysLikeTheLocalFile(const std::string& path) {
        const ShellOutput local = Tool("play --json " + Quote(m_file.path));
        ASSERT_EQ(local.status, 0);
        ASSERT_GT(local.text.size(), 1000u);
        const ShellOutput remote = Tool("play --json " + Quote(m_server->Url(path)) + " 2>&1");
        EXPECT_EQ(remote.status, 0) << remote.text.substr(
            remote.text.size() > 2000 ? remote.text.size() - 2000 : 0);
        EXPECT_TRUE(PerStream(remote.text) == PerStream(local.text))
            << "the JSON Lines differ for " << path << FirstDifference(local.text, remote.text);
    }
    // Each stream's lines in their order (the source's own events under "source"): the streams' samples
    // interleave as their threads run, on one machine as on another. (A stream of no length that cannot seek is
    // a broadcast, but none of this file's streams is silent for long enough to be sent a tick.)
    static std::map<std::string, std::vector<std::string>> PerStream(const std::string& text) {
        std::map<std::string, std::vector<std::string>> out;
        size_t at = 0;
        for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = text.substr(at, end - at);
            const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            out[j.is_object() && j.contains("stream") && !j["stream"].is_null() ? j["stream"].dump()
                                                                                : "source"]
                .push_back(line);
        }
        return out;
    }
    static std::string FirstDifference(const std::string& a, const std::string& b) {
        size_t i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i])
            ++i;
        const size_t line = a.rfind('\n', i) == std::string::npos ? 0 : a.rfind('\n', i) + 1;
        return ": local\n" + a.substr(line, 300) + "\nremote\n" + b.substr(line, 300);
    }
    Fixture m_file;
    std::unique_ptr<HttpFixture> m_server;
};
} // namespace

TEST_F(HostUrlTest, ARemoteFileWithRangesPlaysAsTheLocalFile) {
    ExpectPlaysLikeTheLocalFile("/file/remote.ogg");
}

TEST_F(HostUrlTest, ARemoteFileWithoutRangesPlaysAsTheLocalFile) {
    ExpectPlaysLikeTheLocalFile("/plain/remote.ogg");
}

TEST_F(HostUrlTest, ARemoteFileWithoutLengthPlaysAsTheLocalFile) {
    ExpectPlaysLikeTheLocalFile("/nolength/remote.ogg");
}

TEST_F(HostUrlTest, ARemoteFileProbesAsTheLocalFile) {
    const ShellOutput local = Tool("probe --json " + Quote(m_file.path));
    const ShellOutput remote = Tool("probe --json " + Quote(m_server->Url("/file/remote.ogg")));
    ASSERT_EQ(local.status, 0);
    ASSERT_EQ(remote.status, 0);
    nlohmann::json l = nlohmann::json::parse(local.text), r = nlohmann::json::parse(remote.text);
    EXPECT_EQ(r["file"], m_server->Url("/file/remote.ogg"));
    l.erase("file");
    r.erase("file");
    EXPECT_EQ(l, r);
}

TEST_F(HostUrlTest, AMissingUrlSaysTheStatus) {
    const ShellOutput o = Tool("play --null " + Quote(m_server->Url("/status/404")) + " 2>&1");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.text.find("HTTP 404 Not Found"), std::string::npos) << o.text;
    EXPECT_NE(o.text.find("ERROR_FILE_NOT_FOUND"), std::string::npos) << o.text;
    const ShellOutput p = Tool("probe " + Quote(m_server->Url("/status/500")) + " 2>&1");
    EXPECT_EQ(p.status, 1);
    EXPECT_NE(p.text.find("HTTP 500"), std::string::npos) << p.text;
}

// A file larger than the open's reads (discovery, end scan), reset by the server half-way through every
// reply but the first (the open's, which the server sends on past what the open reads): the play fails,
// and says why.
TEST_F(HostUrlTest, AResetWhilePlayingSaysTheCause) {
    Fixture big = MakeFile("reset", R"({"streams": [{"kind": "theora", "serial": 5, "seconds": 40}]})");
    const std::string body = Slurp(big.path);
    unlink(big.path.c_str());
    ASSERT_GT(body.size(), 900000u) << "the reset must come after the open's reads";
    HttpFixture server(body);
    ASSERT_TRUE(server.Start());
    server.ResetAt(body.size() / 2, 2);
    const std::string url = server.Url("/reset/big.ogg");
    const ShellOutput o = Tool("play --null " + Quote(url) + " 2>&1");
    EXPECT_EQ(o.status, 1) << server.Requests() << " requests";
    EXPECT_NE(o.text.find("playback failed: " + url + ": Recv failure: Connection reset by peer"),
              std::string::npos)
        << o.text;
}

// The handler is found by the MIME type the server sends when the URL has no extension to go by.
TEST_F(HostUrlTest, TheResolverFindsTheHandlerByTheRepliesMimeType) {
    PlatRef<IMFSourceResolver> resolver;
    ASSERT_EQ(MFCreateSourceResolver(&resolver), S_OK);
    const std::wstring url = [&] {
        const std::string u = m_server->Url("/file/stream");
        return std::wstring(u.begin(), u.end());
    }();
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    PlatRef<IUnknown> object;
    ASSERT_EQ(resolver->CreateObjectFromURL(url.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type, &object),
              S_OK);
    EXPECT_EQ(type, MF_OBJECT_MEDIASOURCE);
    PlatRef<IMFMediaSource> source;
    ASSERT_EQ(object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&source)), S_OK);
    EXPECT_TRUE(host::IsOggSource(source.Get()));
    source->Shutdown();

    m_server->SetContentType("text/plain; charset=utf-8");
    EXPECT_EQ(resolver->CreateObjectFromURL(url.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type, &object),
              MF_E_UNSUPPORTED_BYTESTREAM_TYPE)
        << "no handler for that type, and the content must match";
    m_server->SetContentType("application/ogg; charset=binary");
    EXPECT_EQ(resolver->CreateObjectFromURL(url.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type, &object),
              S_OK)
        << "the type's parameters do not count";
    PlatRef<IMFMediaSource> again;
    ASSERT_EQ(object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&again)), S_OK);
    again->Shutdown();
}

// On a terminal, --null shows how much of a stream was received: of its length when it has one...
TEST_F(HostUrlTest, NullPlayShowsTheShareReceivedOnATerminal) {
    m_server->SetBytesPerSecond(200000);
    const std::string command = "OGGSOURCE_REGISTRY=" + Quote(m_registry) + " " + Quote(OGGSOURCE_TOOL_PATH) +
                                " play --null " + Quote(m_server->Url("/file/remote.ogg"));
    const ShellOutput o = RunShell("script -qec " + Quote(command) + " /dev/null");
    EXPECT_NE(o.text.find("\rreceived 0.1 of 0.1 MB"), std::string::npos) << o.text;
    EXPECT_EQ(RunShell(command + " 2>&1").text, "") << "and nothing off a terminal";
}

// ... and the bytes alone for a stream of unknown length.
TEST_F(HostUrlTest, NullPlayShowsTheBytesReceivedOnATerminal) {
    m_server->SetBytesPerSecond(200000);
    const std::string command = "OGGSOURCE_REGISTRY=" + Quote(m_registry) + " " + Quote(OGGSOURCE_TOOL_PATH) +
                                " play --null " + Quote(m_server->Url("/nolength/remote.ogg"));
    const ShellOutput o = RunShell("script -qec " + Quote(command) + " /dev/null");
    EXPECT_NE(o.text.find("\rreceived 0.1 MB"), std::string::npos) << o.text;
    EXPECT_EQ(o.text.find(" of "), std::string::npos) << "no length to show a share of";
}
