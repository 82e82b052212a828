// Certificates are verified: an https server whose certificate nobody signed (openssl s_server with a
// self-signed one, on 127.0.0.1 and a free port) is refused, with the cause in the text.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>

#include "common/free_port.h"
#include "common/process.h"
#include "common/shell.h"
#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}
} // namespace

TEST(Tls, AServerWithASelfSignedCertificateIsRefused) {
    if (access("/usr/bin/openssl", X_OK) != 0) GTEST_SKIP() << "openssl is not installed: run ./run setup";
    char dir[] = "/tmp/oggsource-tls-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string d = dir;
    ASSERT_EQ(RunShell("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
                       Quote(d + "/key.pem") + " -out " + Quote(d + "/cert.pem") + " 2>/dev/null")
                  .status,
              0);
    const int port = FreePort();
    pid_t server =
        SpawnProcess({"/usr/bin/openssl", "s_server", "-quiet", "-www", "-accept",
                      "127.0.0.1:" + std::to_string(port), "-cert", d + "/cert.pem", "-key", d + "/key.pem"},
                     d + "/server.log");
    for (int i = 0; i < 100 && !Accepts(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(Accepts(port)) << "openssl s_server did not start";

    PlatRef<IMFByteStream> s;
    const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/a.ogg";
    EXPECT_EQ(MFCreateHttpByteStreamA(url.c_str(), &s), MF_E_NET_CANNOTCONNECT);
    char text[1024];
    PlatLastNetworkError(text, sizeof text);
    EXPECT_NE(std::string(text).find("certificate"), std::string::npos) << text;
    EndProcess(&server);
    std::filesystem::remove_all(d);
}
