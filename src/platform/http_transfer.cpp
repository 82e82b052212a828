// One GET through libcurl's multi interface, driven by the caller's waits and cancelled by a wake-up.
#include "http_transfer.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alloc_fault.h"

HRESULT HttpCurlError(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return MF_E_NET_CANNOTCONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return MF_E_NET_TIMEOUT;
    case CURLE_TOO_MANY_REDIRECTS:
        return MF_E_NET_TOO_MANY_REDIRECTS;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return MF_E_UNSUPPORTED_SCHEME; // a redirect to file:, ftp:, ...
    case CURLE_URL_MALFORMAT:
        return E_INVALIDARG;
    case CURLE_OUT_OF_MEMORY:
        return E_OUTOFMEMORY;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_WRITE_ERROR:
        return MF_E_NET_BAD_CONTROL_DATA; // write error: a header callback refused
    default:
        return MF_E_NET_READ; // reset, closed early, nothing received
    }
}

HttpTransfer::~HttpTransfer() {
    if (m_added) curl_multi_remove_handle(m_multi, m_easy);
    if (m_easy) curl_easy_cleanup(m_easy);
    std::free(m_buffer);
}

HRESULT HttpTransfer::Fail(HRESULT hr, const char* format, ...) {
    char what[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(what, sizeof what, format, args);
    va_end(args);
    std::snprintf(m_errorText, sizeof m_errorText, "%s: %s", m_url, what);
    return hr;
}

HRESULT HttpTransfer::SetOptions(const char* url, uint64_t offset, bool range) {
    char bytes[32];
    std::snprintf(bytes, sizeof bytes, "%llu-", static_cast<unsigned long long>(offset));
    CURLcode c = curl_easy_setopt(m_easy, CURLOPT_URL, url);
    // Only http and https, for the URL and for every redirect: never file:, ftp: or another scheme.
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYPEER, 1L);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // A dead peer is found by keep-alive probes; a live one that merely sends nothing is waited for.
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_TCP_KEEPALIVE, 1L);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_USERAGENT, "oggsource");
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_curlError);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &HttpTransfer::OnHeader);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &HttpTransfer::OnBody);
    if (!c) c = curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    if (!c && range) c = curl_easy_setopt(m_easy, CURLOPT_RANGE, bytes);
    return c ? Fail(HttpCurlError(c), "%s", curl_easy_strerror(c)) : S_OK;
}

HRESULT HttpTransfer::Start(const char* url, uint64_t offset, bool range) {
    std::snprintf(m_url, sizeof m_url, "%s", url);
    m_buffer = PlatSystemAllocationRefused() ? nullptr : static_cast<BYTE*>(std::malloc(kReceiveBufferBytes));
    m_easy = m_buffer ? curl_easy_init() : nullptr;
    if (!m_easy) return Fail(E_OUTOFMEMORY, "out of memory");
    HRESULT hr = SetOptions(url, offset, range);
    if (FAILED(hr)) return hr;
    CURLMcode mc = curl_multi_add_handle(m_multi, m_easy);
    if (mc != CURLM_OK) return Fail(E_FAIL, "%s", curl_multi_strerror(mc));
    m_added = true;
    return S_OK;
}

size_t HttpTransfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<HttpTransfer*>(self);
    if (HttpAddHeaderLine(&t->m_headers, data, size * count)) return size * count;
    t->m_headerLimit = true;
    return 0; // ends the transfer with CURLE_WRITE_ERROR
}

size_t HttpTransfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<HttpTransfer*>(self);
    const size_t n = size * count;
    if (t->m_headers.status < 200 || t->m_headers.status >= 300) return n; // an error page: not data
    if (kReceiveBufferBytes - t->m_end < n && t->m_begin > 0) {
        std::memmove(t->m_buffer, t->m_buffer + t->m_begin, t->m_end - t->m_begin);
        t->m_end -= t->m_begin;
        t->m_begin = 0;
    }
    if (kReceiveBufferBytes - t->m_end < n) {
        // Back pressure: libcurl keeps this block and stops reading the socket until resumed.
        t->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    std::memcpy(t->m_buffer + t->m_end, data, n);
    t->m_end += n;
    return n;
}

// Resumes a paused transfer once a block fits again (libcurl may deliver it from inside this call).
void HttpTransfer::Resume() {
    if (!m_paused || kReceiveBufferBytes - (m_end - m_begin) < CURL_MAX_WRITE_SIZE) return;
    m_paused = false;
    curl_easy_pause(m_easy, CURLPAUSE_CONT);
}

// The transfer has ended: a clean end, or the failure it ended with.
HRESULT HttpTransfer::Finished() {
    if (m_result == CURLE_OK) return S_OK;
    if (m_headerLimit)
        return Fail(MF_E_NET_BAD_CONTROL_DATA,
                    "the server sent more than %zu header lines or %zu bytes of headers", kMaxHeaderLines,
                    kMaxHeaderBytes);
    return Fail(HttpCurlError(m_result), "%s", *m_curlError ? m_curlError : curl_easy_strerror(m_result));
}

// Moves the transfer on once, then waits up to waitMs for the socket (or a wake-up).
HRESULT HttpTransfer::Step(int waitMs) {
    if (m_cancelled->load()) return MF_E_SHUTDOWN;
    Resume();
    int running = 0;
    CURLMcode mc = curl_multi_perform(m_multi, &running);
    if (mc != CURLM_OK) return Fail(E_FAIL, "%s", curl_multi_strerror(mc));
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_easy) {
            m_done = true;
            m_result = msg->data.result;
        }
    }
    if (m_done || m_begin != m_end) return S_OK;
    mc = curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr);
    if (mc != CURLM_OK) return Fail(E_FAIL, "%s", curl_multi_strerror(mc));
    return m_cancelled->load() ? MF_E_SHUTDOWN : S_OK;
}

HRESULT HttpTransfer::WaitHeaders() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHeaderTimeoutSeconds);
    while (!m_headers.complete) {
        if (m_done) {
            HRESULT hr = Finished();
            return FAILED(hr) ? hr
                              : Fail(MF_E_NET_INCOMPATIBLE_SERVER, "the connection ended before a reply");
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return Fail(MF_E_NET_TIMEOUT, "no reply within %d s", kHeaderTimeoutSeconds);
        HRESULT hr = Step(250);
        if (FAILED(hr)) return hr;
    }
    const int status = m_headers.status;
    if ((status >= 200 && status < 300) || status == 416) return S_OK;
    return Fail(HttpStatusError(status), "HTTP %d%s%s", status, *m_headers.reason ? " " : "",
                m_headers.reason);
}

size_t HttpTransfer::Take(BYTE* dst, size_t count) {
    size_t n = m_end - m_begin < count ? m_end - m_begin : count;
    if (dst) std::memcpy(dst, m_buffer + m_begin, n);
    m_begin += n;
    if (m_begin == m_end) m_begin = m_end = 0;
    return n;
}

HRESULT HttpTransfer::Read(BYTE* dst, ULONG count, ULONG* got) {
    *got = 0;
    const auto start = std::chrono::steady_clock::now();
    bool told = false; // the buffering events were told that this read waits
    HRESULT hr = S_OK;
    // Waits without a limit: a live stream may send nothing for a long time; a close cancels the wait.
    while (*got < count) {
        *got += static_cast<ULONG>(Take(dst + *got, count - *got));
        if (*got == count) break;
        if (m_done) {
            hr = Finished();
            if (FAILED(hr) || m_begin == m_end) break; // a failure, or the end of the body
            continue;
        }
        if (m_buffering && !told && std::chrono::steady_clock::now() - start >= kBufferingAfter) {
            m_buffering->Waiting();
            told = true;
        }
        hr = Step(m_buffering && !told ? 50 : 1000);
        if (FAILED(hr)) break;
    }
    if (told) m_buffering->Done();
    return hr;
}

HRESULT HttpTransfer::Skip(uint64_t count, uint64_t* skipped) {
    *skipped = 0;
    while (*skipped < count) {
        *skipped +=
            Take(nullptr, static_cast<size_t>(count - *skipped < kReceiveBufferBytes ? count - *skipped
                                                                                     : kReceiveBufferBytes));
        if (*skipped == count) break;
        if (m_done) {
            HRESULT hr = Finished();
            if (FAILED(hr) || m_begin == m_end) return hr;
            continue;
        }
        HRESULT hr = Step(1000);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}
