// The test HTTP server's replies: one per way of serving (see http_fixture.h).
#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "http_fixture.h"

namespace {
std::string Head(int status, const char* reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nConnection: close\r\n";
}
} // namespace

// Holds at the stall offset until released or stopped; *allowed: how many bytes may go before the
// stall. False when the server stops.
bool HttpFixture::Hold(uint64_t offset, uint64_t* allowed) {
    std::unique_lock<std::mutex> g(m_lock);
    if (offset >= m_stallAt) {
        m_stalled = true;
        m_changed.notify_all();
        m_changed.wait(g, [&] { return offset < m_stallAt || m_stopping; });
        m_stalled = false;
    }
    *allowed = m_stallAt - offset;
    return !m_stopping;
}

// Waits as long as bytes take at the set rate (interrupted by a stop).
void HttpFixture::Pace(uint64_t bytes) {
    std::unique_lock<std::mutex> g(m_lock);
    if (!m_rate) return;
    m_changed.wait_for(g, std::chrono::microseconds(bytes * 1000000 / m_rate), [&] { return m_stopping; });
}

// Sends count bytes of the body from offset (looping over it when loop), paced and stalled as set; a
// reset after resetAfter bytes when that is not ~0. False when the client went away.
bool HttpFixture::SendBody(int fd, uint64_t from, uint64_t count, bool loop, uint64_t resetAfter) {
    uint64_t rate, sent = 0;
    {
        std::lock_guard<std::mutex> g(m_lock);
        rate = m_rate;
    }
    const uint64_t chunk = rate ? std::max<uint64_t>(1, std::min<uint64_t>(rate / 20, 16384)) : 16384;
    while (sent < count && !m_body.empty()) {
        const uint64_t at = from + sent;
        uint64_t allowed = 0;
        if (!Hold(at, &allowed)) return false;
        uint64_t n = std::min<uint64_t>({chunk, count - sent, allowed});
        if (resetAfter != ~uint64_t(0)) n = std::min<uint64_t>(n, resetAfter - sent);
        const uint64_t inBody = loop ? at % m_body.size() : at;
        n = std::min<uint64_t>(n, m_body.size() - inBody);
        if (n == 0 || !SendAll(fd, m_body.substr(inBody, n))) break;
        sent += n;
        m_sent += n;
        if (resetAfter != ~uint64_t(0) && sent >= resetAfter) {
            linger l{1, 0}; // close with a reset, as a crashed server's peer sees it
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            return false;
        }
        Pace(n);
    }
    return true;
}

void HttpFixture::Respond(int fd, const Request& r) {
    const std::string& p = r.path;
    std::string type;
    uint64_t resetAt;
    {
        std::lock_guard<std::mutex> g(m_lock);
        type = "Content-Type: " + m_contentType + "\r\n";
        resetAt = r.number >= m_resetFrom ? m_resetAt : ~uint64_t(0);
    }
    const uint64_t size = m_body.size();
    if (p.rfind("/file/", 0) == 0 || p.rfind("/reset/", 0) == 0) {
        const uint64_t reset = p[1] == 'r' && resetAt > r.from ? resetAt - r.from : ~uint64_t(0);
        if (r.range && r.from >= size) {
            SendAll(fd, Head(416, "Range Not Satisfiable") + "Content-Range: bytes */" +
                            std::to_string(size) + "\r\n\r\n");
        } else if (r.range) {
            SendAll(fd, Head(206, "Partial Content") + type +
                            "Accept-Ranges: bytes\r\nContent-Length: " + std::to_string(size - r.from) +
                            "\r\nContent-Range: bytes " + std::to_string(r.from) + "-" +
                            std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n\r\n") &&
                SendBody(fd, r.from, size - r.from, false, reset);
        } else {
            SendAll(fd, Head(200, "OK") + type +
                            "Accept-Ranges: bytes\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n") &&
                SendBody(fd, 0, size, false, reset);
        }
    } else if (p.rfind("/plain/", 0) == 0) {
        SendAll(fd, Head(200, "OK") + type + "Content-Length: " + std::to_string(size) + "\r\n\r\n") &&
            SendBody(fd, 0, size, false, ~uint64_t(0));
    } else if (p.rfind("/nolength/", 0) == 0 || p.rfind("/endless/", 0) == 0) {
        const bool endless = p[1] == 'e';
        SendAll(fd, Head(200, "OK") + type + "\r\n") &&
            SendBody(fd, 0, endless ? ~uint64_t(0) : size, endless, ~uint64_t(0));
    } else if (p.rfind("/status/", 0) == 0) {
        const int code = std::atoi(p.c_str() + 8);
        SendAll(fd, Head(code, code == 404 ? "Not Found" : "Server Failure") +
                        "Content-Length: 9\r\n\r\nnot here\n");
    } else if (p.rfind("/redirect/", 0) == 0) {
        SendAll(fd, Head(302, "Found") + "Location: " + p.substr(9) + "\r\nContent-Length: 0\r\n\r\n");
    } else if (p == "/redirect-file") {
        SendAll(fd, Head(302, "Found") + "Location: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
    } else if (p == "/redirect-loop") {
        SendAll(fd, Head(302, "Found") + "Location: /redirect-loop\r\nContent-Length: 0\r\n\r\n");
    } else if (p == "/headers") {
        std::string h = Head(200, "OK");
        for (int i = 0; i < 1000; ++i)
            h += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'x') + "\r\n";
        SendAll(fd, h + "Content-Length: 0\r\n\r\n");
    } else {
        SendAll(fd, Head(404, "Not Found") + "Content-Length: 0\r\n\r\n");
    }
}
