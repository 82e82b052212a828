// Icecast 2 from Debian, run by a test: on 127.0.0.1 and a free port, as nobody:nogroup when the test runs
// as root (Icecast refuses to run as root; its config's changeowner drops the rights), fed live by
// libshout-tools' `shout`, which sends a file's pages as they are, paced in real time, looping.
#pragma once
#include <string>
#include <sys/types.h>

class IcecastServer {
public:
    IcecastServer() = default;
    ~IcecastServer() { Stop(); }
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    // True when icecast2 and shout are installed (./run setup installs them).
    static bool Installed();
    // Starts the server and waits until it accepts connections; false with the reason otherwise.
    bool Start(std::string* why);
    // Sends the file to the mount ("/live.ogg") over and over, in real time, and waits until the mount
    // is served; false with the reason otherwise.
    bool Feed(const std::string& file, const std::string& mount, std::string* why);
    std::string MountUrl(const std::string& mount) const;
    // Ends the feeder and the server (the processes this object started, by their ids).
    void Stop();

private:
    bool WriteConfig(std::string* why);
    bool WaitForStatus(const std::string& path, int status, std::string* why) const;

    std::string m_dir;
    int m_port = 0;
    pid_t m_server = -1, m_feeder = -1;
};
