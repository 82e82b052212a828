#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>

// Which links of a chain the host has been told of in the run. Each stream enters the links in order but may
// skip one it has no part in, so a later link can be reached before an earlier one: the links up to m_through
// are all told, the few above it reached out of order wait aside (sorted) until the gap closes. A link no
// playing stream enters is never told; when the aside list is full the oldest gap is given up, so it cannot
// grow without bound. The link told last is the one the source's tags answer for.
class LinkAnnouncements {
public:
    // True the first time a link is reached (the caller announces it then).
    bool FirstReach(int32_t link) {
        std::lock_guard<std::mutex> g(m_lock);
        int32_t* const end = m_aside.data() + m_count;
        if (link <= m_through || std::find(m_aside.data(), end, link) != end) return false;
        if (m_count == m_aside.size()) TakeOldest();
        int32_t* at = std::upper_bound(m_aside.data(), m_aside.data() + m_count, link);
        std::move_backward(at, m_aside.data() + m_count, m_aside.data() + m_count + 1);
        *at = link;
        ++m_count;
        while (m_count && m_aside[0] == m_through + 1)
            TakeOldest();
        m_last = link;
        return true;
    }
    // A run of a file read anywhere begins in link `link`: the links after it are told again as they are
    // reached. True when the host was last told of another link (the caller tells it of this one).
    bool Restart(int32_t link) {
        std::lock_guard<std::mutex> g(m_lock);
        m_through = link;
        m_count = 0;
        const bool other = link != m_last;
        m_last = link;
        return other;
    }
    int32_t Last() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_last;
    }

private:
    void TakeOldest() {
        m_through = m_aside[0];
        std::move(m_aside.data() + 1, m_aside.data() + m_count, m_aside.data());
        --m_count;
    }

    std::mutex m_lock;
    int32_t m_through = 0; // the first link is announced by the open
    std::array<int32_t, 16> m_aside{};
    size_t m_count = 0;
    int32_t m_last = 0;
};
