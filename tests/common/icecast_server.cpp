// Starting, feeding and ending a real Icecast server for the network tests.
#include "icecast_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "free_port.h"
#include "process.h"
#include "shell.h"

namespace {
constexpr const char* kIcecast = "/usr/bin/icecast2";
constexpr const char* kShout = "/usr/bin/shout";
constexpr const char* kSourcePassword = "oggsource-test";

// The status of GET path on the port (0 when nothing answers).
int StatusOf(int port, const std::string& path) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int status = 0;
    const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
    char buf[64] = {};
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()) &&
        recv(fd, buf, sizeof buf - 1, 0) > 12)
        status = std::atoi(buf + 9);
    close(fd);
    return status;
}

} // namespace

bool IcecastServer::Installed() {
    return access(kIcecast, X_OK) == 0 && access(kShout, X_OK) == 0;
}

bool IcecastServer::WriteConfig(std::string* why) {
    const bool root = geteuid() == 0;
    std::string owner;
    if (root) {
        // Icecast refuses to run as root: it drops to nobody, which must be able to write its logs.
        const passwd* nobody = getpwnam("nobody");
        const group* nogroup = getgrnam("nogroup");
        if (!nobody || !nogroup) return *why = "no user nobody or group nogroup to run icecast2 as", false;
        if (chown(m_dir.c_str(), nobody->pw_uid, nogroup->gr_gid) != 0)
            return *why = "cannot hand the log folder to nobody", false;
        owner = "<changeowner><user>nobody</user><group>nogroup</group></changeowner>";
    }
    std::ofstream c(m_dir + "/icecast.xml");
    c << "<icecast><location>test</location><admin>test@localhost</admin>"
      << "<limits><clients>20</clients><sources>4</sources><queue-size>524288</queue-size><burst-size>0</"
         "burst-size>"
      << "<source-timeout>10</source-timeout><header-timeout>15</header-timeout><client-timeout>30</"
         "client-timeout></limits>"
      << "<authentication><source-password>" << kSourcePassword
      << "</source-password><admin-user>admin</admin-user>"
      << "<admin-password>" << kSourcePassword << "</admin-password></authentication>"
      << "<hostname>127.0.0.1</hostname><listen-socket><port>" << m_port
      << "</port><bind-address>127.0.0.1</bind-address></listen-socket><fileserve>0</fileserve>"
      << "<paths><basedir>/usr/share/icecast2</basedir><logdir>" << m_dir
      << "</logdir><webroot>/usr/share/icecast2/web</webroot>"
      << "<adminroot>/usr/share/icecast2/admin</adminroot></paths>"
      << "<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel></"
         "logging>"
      << "<security><chroot>0</chroot>" << owner << "</security></icecast>\n";
    return c.good() || (*why = "cannot write the icecast2 config", false);
}

bool IcecastServer::WaitForStatus(const std::string& path, int status, std::string* why) const {
    for (int i = 0; i < 100; ++i) {
        if (StatusOf(m_port, path) == status) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    *why = "no HTTP " + std::to_string(status) + " for " + path + " on port " + std::to_string(m_port) +
           " within 10 s; icecast2's log: " + Shell("tail -5 " + Quote(m_dir + "/error.log") + " 2>&1");
    return false;
}

bool IcecastServer::Start(std::string* why) {
    char dir[] = "/tmp/oggsource-icecast-XXXXXX";
    if (!mkdtemp(dir)) return *why = "no temporary folder", false;
    m_dir = dir;
    m_port = FreePort();
    if (m_port <= 0 || !WriteConfig(why)) return false;
    m_server = SpawnProcess({kIcecast, "-c", m_dir + "/icecast.xml"}, m_dir + "/icecast.out");
    // Any answer will do: the server's own 404 for a mount nobody feeds yet.
    return WaitForStatus("/none.ogg", 404, why);
}

bool IcecastServer::Feed(const std::string& file, const std::string& mount, std::string* why) {
    const std::string loop = "while :; do cat " + Quote(file) + "; done | exec " + kShout +
                             " --format ogg -H 127.0.0.1 -P " + std::to_string(m_port) + " --mount " +
                             Quote(mount) + " --user source --pass " + kSourcePassword;
    m_feeder = SpawnProcess({"/bin/sh", "-c", loop}, m_dir + "/shout.out");
    return WaitForStatus(mount, 200, why);
}

std::string IcecastServer::MountUrl(const std::string& mount) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + mount;
}

void IcecastServer::Stop() {
    EndProcess(&m_feeder);
    EndProcess(&m_server);
    if (!m_dir.empty()) {
        std::error_code e;
        std::filesystem::remove_all(m_dir, e);
        m_dir.clear();
    }
}
