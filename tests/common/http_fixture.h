// A small HTTP/1.1 server for tests, on 127.0.0.1 and a free port, serving one body in the ways servers
// do and misbehave. The first path segment chooses the way:
//   /file/NAME       range requests answered (206 with Content-Range), Content-Length
//   /plain/NAME      200 with Content-Length, a Range header ignored
//   /nolength/NAME   200 without a length: the body, then the connection closed (close-delimited)
//   /endless/NAME    200 without a length: the body over and over until the client or the test ends it
//   /reset/NAME      as /file/, but a reply's connection is reset (RST) where it reaches ResetAt()'s offset
//   /status/CODE     that status with a short text body (404, 500, ...)
//   /redirect/REST   302 to /REST on this server; /redirect-file 302 to file:///etc/passwd;
//   /redirect-loop   302 to itself; /headers  200 after 1000 header lines
// Every body is paced at BytesPerSecond() when set, and holds at StallAt()'s offset until Release().
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HttpFixture {
public:
    explicit HttpFixture(std::string body, std::string contentType = "audio/ogg");
    ~HttpFixture();
    HttpFixture(const HttpFixture&) = delete;
    HttpFixture& operator=(const HttpFixture&) = delete;

    bool Start(); // false when no socket could be had
    void Stop();  // ends every connection and the server
    std::string Url(const std::string& path) const;

    void SetBytesPerSecond(uint64_t rate); // 0: as fast as the client takes it
    void StallAt(uint64_t offset);         // bodies hold before this byte of the body (~0: never)
    void Release();                        // lets held bodies go on (and no longer hold)
    void WaitStalled();                    // returns once a body holds at the stall
    // /reset/: the byte of the body where replies are reset, those to the request numbered fromRequest
    // (from 1) and later ones: 2 spares an open's first request.
    void ResetAt(uint64_t offset, unsigned fromRequest = 1);
    void SetContentType(const std::string& type);

    uint64_t BytesSent() const { return m_sent; } // body bytes, every reply
    unsigned Requests() const { return m_requests; }

private:
    struct Request {
        std::string path;
        bool range = false;
        uint64_t from = 0;
        unsigned number = 0; // 1 for the server's first request
    };
    void AcceptLoop();
    void Serve(int fd);
    bool ReadRequest(int fd, Request* request);
    void Respond(int fd, const Request& r);
    bool SendAll(int fd, const std::string& data);
    bool SendBody(int fd, uint64_t from, uint64_t count, bool loop, uint64_t resetAfter);
    bool Hold(uint64_t offset, uint64_t* allowed);
    void Pace(uint64_t bytes);

    const std::string m_body;
    std::string m_contentType;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_acceptor;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::thread> m_workers;
    std::vector<int> m_open;
    bool m_stopping = false, m_stalled = false;
    uint64_t m_rate = 0, m_stallAt = ~uint64_t(0), m_resetAt = 1000;
    unsigned m_resetFrom = 1;
    std::atomic<uint64_t> m_sent{0};
    std::atomic<unsigned> m_requests{0};
};
