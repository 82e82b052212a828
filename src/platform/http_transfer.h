// One GET of an http(s) URL through libcurl, from a byte offset: the reply's headers, then its body
// through a bounded receive buffer. The transfer only moves while a caller waits on it (WaitHeaders,
// Read); when the buffer is full the transfer is paused, so a server can never make it hold more.
#pragma once
#include <atomic>
#include <curl/curl.h>

#include "http_reply.h"
#include "stream_buffering.h"

constexpr size_t kReceiveBufferBytes = 256 * 1024;
constexpr long kConnectTimeoutSeconds = 15;
constexpr int kHeaderTimeoutSeconds = 30; // from the request to the final reply's headers
constexpr long kMaxRedirects = 5;

class HttpTransfer {
public:
    // multi: the owner's handle, which outlives the transfer; cancelled: set (then the multi woken) to
    // end every wait at once with MF_E_SHUTDOWN.
    // buffering: told when a read waits for the network (optional).
    HttpTransfer(CURLM* multi, const std::atomic<bool>* cancelled, StreamBuffering* buffering = nullptr)
        : m_multi(multi), m_cancelled(cancelled), m_buffering(buffering) {}
    ~HttpTransfer();
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    // Sends the request; with range, for the bytes from offset on ("Range: bytes=offset-").
    HRESULT Start(const char* url, uint64_t offset, bool range);
    // Waits for the final reply's headers; fails for a status that is not 2xx (416 excepted: the caller
    // reads it as an empty range) and for every failure of the connection.
    HRESULT WaitHeaders();
    // Up to count bytes of the body: fewer only when the body ended cleanly. Waits as long as it takes.
    HRESULT Read(BYTE* dst, ULONG count, ULONG* got);
    // Skips count bytes of the body (a short forward seek on the same connection).
    HRESULT Skip(uint64_t count, uint64_t* skipped);
    const HttpReplyHeaders& Headers() const { return m_headers; }
    // The body ended cleanly and everything received was read.
    bool AtEnd() const { return m_done && m_result == CURLE_OK && m_begin == m_end; }
    // What went wrong, for a person: the status or the cause, and the URL.
    const char* ErrorText() const { return m_errorText; }

private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    HRESULT SetOptions(const char* url, uint64_t offset, bool range);
    HRESULT Step(int waitMs);
    HRESULT Finished();
    HRESULT Fail(HRESULT hr, const char* format, ...) __attribute__((format(printf, 3, 4)));
    size_t Take(BYTE* dst, size_t count);
    void Resume();

    CURLM* m_multi;
    const std::atomic<bool>* m_cancelled;
    StreamBuffering* m_buffering;
    CURL* m_easy = nullptr;
    bool m_added = false, m_done = false, m_paused = false, m_headerLimit = false;
    CURLcode m_result = CURLE_OK;
    HttpReplyHeaders m_headers;
    BYTE* m_buffer = nullptr;
    size_t m_begin = 0, m_end = 0;
    char m_url[256] = {}; // for messages (cut to fit)
    char m_curlError[CURL_ERROR_SIZE] = {};
    char m_errorText[768] = {};
};

// The HRESULT for a transfer that libcurl ended with an error.
HRESULT HttpCurlError(CURLcode code);
