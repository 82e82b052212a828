// The demultiplexing core on its own: files written by oggmux in memory, a byte source over them that counts,
// fails, cuts or refuses to seek, and a sink that keeps every packet the core hands up. Nothing of Media
// Foundation, COM or the registry.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <vector>
#include <zlib.h>

#include "muxer.h"
#include "ogg/ogg_demuxer.h"

namespace core {

inline oggmux::MuxResult Mux(const std::string& json) {
    oggmux::Description d;
    oggmux::MuxResult r;
    std::string error;
    EXPECT_TRUE(oggmux::ParseDescription(json, &d, &error)) << error;
    EXPECT_TRUE(oggmux::Mux(d, &r, &error)) << error;
    return r;
}

// Bytes in memory as the core's byte source.
class MemorySource final : public IOggByteSource {
public:
    explicit MemorySource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) override {
        *got = 0;
        const long index = m_reads++;
        if (m_failFrom >= 0 && index >= m_failFrom) return E_FAIL;
        if (!m_caps.seekable && position != m_next) return E_FAIL; // reads on from where it is, only
        if (position < 0 || length < 0) return E_INVALIDARG;
        if (m_piece > 0 && length > m_piece) length = m_piece;
        const size_t at = static_cast<size_t>(position) < m_bytes.size() ? static_cast<size_t>(position) : m_bytes.size();
        const size_t n = std::min(static_cast<size_t>(length), m_bytes.size() - at);
        if (n) std::memcpy(buffer, m_bytes.data() + at, n);
        *got = static_cast<LONG>(n);
        m_bytesRead += n;
        m_next = position + static_cast<LONGLONG>(n);
        return S_OK;
    }
    ByteSourceCaps Caps() override {
        ByteSourceCaps c = m_caps;
        c.length = m_lengthKnown ? static_cast<LONGLONG>(m_bytes.size()) : -1;
        return c;
    }
    // Faults and limits (set before the core reads).
    void FailFrom(long readIndex) { m_failFrom = readIndex; }
    void Pieces(LONG bytes) { m_piece = bytes; }
    void NotSeekable() { m_caps.seekable = false; }
    void LengthUnknown() { m_lengthKnown = false; }
    long Reads() const { return m_reads; }
    uint64_t BytesRead() const { return m_bytesRead; }

private:
    ~MemorySource() = default;
    std::vector<uint8_t> m_bytes;
    std::atomic<ULONG> m_refs{1};
    std::atomic<long> m_reads{0};
    std::atomic<uint64_t> m_bytesRead{0};
    long m_failFrom = -1;
    LONG m_piece = 0;
    ByteSourceCaps m_caps;
    bool m_lengthKnown = true;
    LONGLONG m_next = 0;
};

struct Packet {
    LONGLONG time = 0, duration = 0;
    DWORD size = 0;
    uint32_t crc = 0;
    int clean = -1, discontinuity = -1;
};

// Keeps every packet per stream; production is driven by Drive() below, woken by the reader's DataReady.
class CollectingSink final : public IOggDemuxSink {
public:
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT DeliverPacket(int32_t stream, DWORD, const OggSamplePacket& p) override {
        Packet k;
        k.time = p.time;
        k.duration = p.duration;
        k.size = p.length;
        k.crc = static_cast<uint32_t>(crc32(0, p.data, p.length));
        k.clean = p.cleanPoint;
        k.discontinuity = p.discontinuity;
        std::lock_guard<std::mutex> g(m_lock);
        m_packets[stream].push_back(k);
        return m_packets[stream].size() >= m_room ? S_FALSE : S_OK;
    }
    // The host's reserve: once a stream holds this many packets, each further one is taken as the last it wants.
    void Room(size_t packets) {
        std::lock_guard<std::mutex> g(m_lock);
        m_room = packets;
    }
    void EndOfBatch(int32_t, DWORD) override {}
    void EndOfStream(int32_t stream, DWORD, HRESULT cause) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_ended[stream] = true;
        m_causes[stream] = cause;
        m_wake.notify_all();
    }
    void DataReady(int32_t stream, DWORD) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_ready[stream] = true;
        m_wake.notify_all();
    }
    Consumer ConsumerOf(int32_t stream) override {
        std::lock_guard<std::mutex> g(m_lock);
        return m_idle[stream] ? Consumer::Idle : Consumer::Asking;
    }
    // The host takes none of this stream's samples (until it is told otherwise).
    void SetIdle(int32_t stream, bool idle) {
        std::lock_guard<std::mutex> g(m_lock);
        m_idle[stream] = idle;
    }

    // Production of the streams given until each ended (or no news for `ms`): false on a silence.
    bool Drive(COggDemuxer* core, DWORD run, const std::vector<int32_t>& streams, unsigned ms = 10000) {
        for (;;) {
            bool all = true;
            for (int32_t s : streams) {
                {
                    std::lock_guard<std::mutex> g(m_lock);
                    if (m_ended[s]) continue;
                    m_ready[s] = false;
                }
                all = false;
                EXPECT_TRUE(SUCCEEDED(core->Produce(s, run, this)));
            }
            if (all) return true;
            std::unique_lock<std::mutex> g(m_lock);
            const bool news = m_wake.wait_for(g, std::chrono::milliseconds(ms), [&] {
                for (int32_t s : streams)
                    if (m_ready[s] || m_ended[s]) return true;
                return false;
            });
            if (!news) return false;
        }
    }
    std::vector<Packet> Of(int32_t stream) {
        std::lock_guard<std::mutex> g(m_lock);
        return m_packets[stream];
    }
    bool Ended(int32_t stream) {
        std::lock_guard<std::mutex> g(m_lock);
        return m_ended[stream];
    }
    HRESULT Cause(int32_t stream) {
        std::lock_guard<std::mutex> g(m_lock);
        return m_causes[stream];
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        m_packets.clear();
        m_ended.clear();
        m_ready.clear();
        m_causes.clear();
    }

private:
    ~CollectingSink() = default;
    std::atomic<ULONG> m_refs{1};
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::map<int32_t, std::vector<Packet>> m_packets;
    std::map<int32_t, bool> m_ended, m_ready, m_idle;
    size_t m_room = SIZE_MAX;
    std::map<int32_t, HRESULT> m_causes;
};

// A core opened over bytes (the source and the sink stay the caller's to look at).
struct OpenedCore {
    MemorySource* source;
    CollectingSink* sink = new CollectingSink;
    COggDemuxer* core = nullptr;
    HRESULT hr = E_FAIL;
    explicit OpenedCore(std::vector<uint8_t> bytes, void (*setUp)(MemorySource*) = nullptr)
        : source(new MemorySource(std::move(bytes))) {
        if (setUp) setUp(source);
        CFourccMap none;
        hr = COggDemuxer::Create(source, none, sink, &core);
        if (SUCCEEDED(hr)) hr = core->Open();
    }
    ~OpenedCore() {
        if (core) {
            core->Shutdown();
            core->Release();
        }
        sink->Release();
        source->Release();
    }
    int32_t IndexOf(uint32_t serial) const {
        COggStream* s = core->FindStream(serial);
        return s ? s->Index() : -1;
    }
    // Plays every stream given from `start` (0: from the file's start) to its end; false on a silence.
    bool Play(DWORD run, LONGLONG start, const std::vector<int32_t>& streams) {
        sink->Clear();
        for (int32_t i = 0; i < core->StreamCount(); ++i)
            core->Select(i, std::find(streams.begin(), streams.end(), i) != streams.end());
        EXPECT_EQ(core->BeginRun(run, start), S_OK);
        return sink->Drive(core, run, streams);
    }
};

} // namespace core
