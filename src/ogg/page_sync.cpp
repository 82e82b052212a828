#include "page_sync.h"

#include <cstdlib>
#include <cstring>

CPageSync::~CPageSync() { std::free(m_data); }

void CPageSync::Reset(LONGLONG position) {
    m_begin = m_end = 0;
    m_base = position;
}

// The bytes held move to the front only when the room after them is short, and the buffer grows to room for a few
// such writes: a reader of pages larger than its reads (audio at a high rate) then does not move what it holds
// at every read.
BYTE* CPageSync::Space(size_t n) {
    if (m_capacity - m_end < n && m_begin > 0) { // what was taken goes: the bytes held move to the front
        std::memmove(m_data, m_data + m_begin, m_end - m_begin);
        m_base += static_cast<LONGLONG>(m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_capacity - m_end < n) {
        const size_t capacity = m_end + n * kRoomFor;
        auto* data = static_cast<BYTE*>(ReallocBytes(m_data, capacity));
        if (!data) return nullptr;
        m_data = data;
        m_capacity = capacity;
    }
    return m_data + m_end;
}

void CPageSync::Wrote(size_t n) { m_end += n; }

bool CPageSync::Next(OggPageView* page) {
    while (m_end - m_begin >= 4) {
        const BYTE* p = m_data + m_begin;
        const size_t held = m_end - m_begin;
        if (p[0] != 'O' || std::memcmp(p, "OggS", 4) != 0) {
            const void* next = std::memchr(p + 1, 'O', held - 1);
            const size_t skip = next ? static_cast<size_t>(static_cast<const BYTE*>(next) - p) : held - 3;
            m_begin += skip;
            m_skipped += skip;
            continue;
        }
        OggPageHeader h;
        const PageParse r = ParsePageHeader(p, held, &h);
        if (r == PageParse::NeedMore) return false;
        if (r == PageParse::Page && static_cast<size_t>(h.Size()) > held) return false;
        if (r == PageParse::Page && PageChecksumRight(p, static_cast<size_t>(h.Size()))) {
            page->offset = Position();
            page->header = h;
            page->data = p;
            m_begin += static_cast<size_t>(h.Size());
            return true;
        }
        ++m_begin; // a capture pattern that begins no page: look again one byte on
        ++m_skipped;
    }
    return false;
}

bool CPageSync::PendingHeader(OggPageHeader* header) {
    const size_t held = m_end - m_begin;
    if (held < 4 || std::memcmp(m_data + m_begin, "OggS", 4) != 0) return false;
    return ParsePageHeader(m_data + m_begin, held, header) == PageParse::Page &&
           static_cast<size_t>(header->Size()) > held;
}
