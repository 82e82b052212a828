// The test HTTP server: one thread accepts, one thread per connection answers one request and closes.
#include "http_fixture.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

HttpFixture::HttpFixture(std::string body, std::string contentType)
    : m_body(std::move(body)), m_contentType(std::move(contentType)) {
}

HttpFixture::~HttpFixture() {
    Stop();
}

bool HttpFixture::Start() {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0; // a free port, chosen by the system
    socklen_t n = sizeof a;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_listen, 16) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        return false;
    m_port = ntohs(a.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
    return true;
}

void HttpFixture::Stop() {
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_stopping) return;
        m_stopping = true;
        for (int fd : m_open)
            shutdown(fd, SHUT_RDWR);
        m_changed.notify_all();
    }
    if (m_listen >= 0) shutdown(m_listen, SHUT_RDWR);
    if (m_acceptor.joinable()) m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> g(m_lock);
        workers.swap(m_workers);
    }
    for (auto& t : workers)
        t.join();
    if (m_listen >= 0) close(m_listen);
    m_listen = -1;
}

std::string HttpFixture::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void HttpFixture::SetBytesPerSecond(uint64_t rate) {
    std::lock_guard<std::mutex> g(m_lock);
    m_rate = rate;
}
void HttpFixture::StallAt(uint64_t offset) {
    std::lock_guard<std::mutex> g(m_lock);
    m_stallAt = offset;
    m_changed.notify_all(); // a body held at an earlier stall goes on to this one
}
void HttpFixture::Release() {
    std::lock_guard<std::mutex> g(m_lock);
    m_stallAt = ~uint64_t(0);
    m_changed.notify_all();
}
void HttpFixture::WaitStalled() {
    std::unique_lock<std::mutex> g(m_lock);
    m_changed.wait(g, [&] { return m_stalled || m_stopping; });
}
void HttpFixture::ResetAt(uint64_t offset, unsigned fromRequest) {
    std::lock_guard<std::mutex> g(m_lock);
    m_resetAt = offset;
    m_resetFrom = fromRequest;
}
void HttpFixture::SetContentType(const std::string& type) {
    std::lock_guard<std::mutex> g(m_lock);
    m_contentType = type;
}

void HttpFixture::AcceptLoop() {
    for (;;) {
        int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return; // shut down
        std::lock_guard<std::mutex> g(m_lock);
        if (m_stopping) {
            close(fd);
            return;
        }
        m_open.push_back(fd);
        m_workers.emplace_back([this, fd] { Serve(fd); });
    }
}

void HttpFixture::Serve(int fd) {
    Request r;
    if (ReadRequest(fd, &r)) {
        r.number = ++m_requests;
        Respond(fd, r);
    }
    std::lock_guard<std::mutex> g(m_lock);
    for (auto it = m_open.begin(); it != m_open.end(); ++it)
        if (*it == fd) {
            m_open.erase(it);
            break;
        }
    close(fd);
}

bool HttpFixture::ReadRequest(int fd, Request* request) {
    std::string text;
    char buf[4096];
    while (text.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0 || text.size() > 65536) return false;
        text.append(buf, static_cast<size_t>(n));
    }
    const size_t space = text.find(' '), end = text.find(' ', space + 1);
    if (space == std::string::npos || end == std::string::npos) return false;
    request->path = text.substr(space + 1, end - space - 1);
    const size_t range = text.find("\r\nRange: bytes=");
    if (range != std::string::npos) {
        request->range = true;
        request->from = std::strtoull(text.c_str() + range + 15, nullptr, 10);
    }
    return true;
}

bool HttpFixture::SendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
