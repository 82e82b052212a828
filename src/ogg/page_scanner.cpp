#include "page_scanner.h"

#include <cstdlib>
#include <cstring>
#include <ogg/ogg.h>

#include "support/alloc.h"

namespace {
constexpr size_t kMaxPage = kMaxPageSize;
constexpr LONGLONG kSyncChunk = 8192;
} // namespace

CPageScanner::CPageScanner(IOggByteSource* source, LONGLONG length, IReadCancel* cancel)
    : m_pSource(source), m_pCancel(cancel), m_llLength(length) {
    m_pSlotBlock = static_cast<LONGLONG*>(AllocBytes(kSlots * sizeof(LONGLONG)));
    m_pBlocks = static_cast<BYTE*>(AllocBytes(kSlots * kBlock));
    m_pPage = static_cast<BYTE*>(AllocBytes(kMaxPage));
    if (m_pSlotBlock)
        for (size_t i = 0; i < kSlots; ++i) m_pSlotBlock[i] = -1;
}

CPageScanner::~CPageScanner() {
    std::free(m_pSlotBlock);
    std::free(m_pBlocks);
    std::free(m_pPage);
}

// Missing blocks are read in runs: one read for every run of consecutive blocks not held.
bool CPageScanner::Read(LONGLONG pos, LONGLONG n, BYTE* out) {
    if (!m_pSlotBlock || !m_pBlocks || pos < 0 || n < 0 || pos > m_llLength || n > m_llLength - pos) return false;
    const LONGLONG first = pos / kBlock, last = (pos + n - 1) / kBlock;
    for (LONGLONG b = first; n > 0 && b <= last;) {
        if (m_pSlotBlock[b % kSlots] == b) {
            ++b;
            continue;
        }
        LONGLONG run = b;
        while (run <= last && m_pSlotBlock[run % kSlots] != run && run - b < 64) ++run;
        const LONGLONG start = b * kBlock, end = run * kBlock < m_llLength ? run * kBlock : m_llLength;
        BYTE buffer[64 * kBlock];
        ++m_reads;
        m_bytes += static_cast<uint64_t>(end - start);
        LONG got = 0;
        if (m_pCancel && m_pCancel->Superseded()) return false;
        if (FAILED(ReadFully(m_pSource, start, buffer, static_cast<LONG>(end - start), &got)) || got != end - start)
            return false;
        for (LONGLONG k = b; k < run; ++k) {
            m_pSlotBlock[k % kSlots] = k;
            std::memcpy(m_pBlocks + (k % kSlots) * kBlock, buffer + (k - b) * kBlock, kBlock);
        }
        b = run;
    }
    for (LONGLONG at = pos, left = n; left > 0;) {
        const LONGLONG b = at / kBlock, off = at % kBlock, take = kBlock - off < left ? kBlock - off : left;
        if (m_pSlotBlock[b % kSlots] != b) return false; // pushed out by the same read: too long to hold
        std::memcpy(out + (at - pos), m_pBlocks + (b % kSlots) * kBlock + off, static_cast<size_t>(take));
        at += take;
        left -= take;
    }
    return true;
}

bool CPageScanner::HeaderAt(LONGLONG pos, PageInfo* page) {
    BYTE h[27 + 255];
    if (pos + 27 > m_llLength || !Read(pos, 27, h)) return false;
    OggPageHeader header;
    if (ParsePageHeader(h, 27, &header) == PageParse::NotAPage) return false;
    const int32_t segments = h[26];
    if (pos + 27 + segments > m_llLength || !Read(pos + 27, segments, h + 27)) return false;
    if (ParsePageHeader(h, static_cast<size_t>(27 + segments), &header) != PageParse::Page) return false;
    page->pos = pos;
    page->flags = header.flags;
    page->granule = header.granule;
    page->serial = header.serial;
    page->segments = segments;
    std::memcpy(page->lacing, header.lacing, static_cast<size_t>(segments));
    page->bodyLen = header.bodyLen;
    return page->End() <= m_llLength;
}

bool CPageScanner::ChecksumRight(const PageInfo& page) {
    ogg_page og;
    return Whole(page, &og) && PageChecksumRight(og.header, static_cast<size_t>(og.header_len + og.body_len));
}

bool CPageScanner::SyncAt(LONGLONG pos, LONGLONG limit, PageInfo* page) {
    if (limit > m_llLength) limit = m_llLength;
    BYTE chunk[kSyncChunk + 3];
    for (LONGLONG at = pos < 0 ? 0 : pos; at < limit;) {
        const LONGLONG n = limit - at < kSyncChunk + 3 ? limit - at : kSyncChunk + 3;
        if (n < 4 || !Read(at, n, chunk)) return false;
        for (LONGLONG i = 0; i + 4 <= n; ++i) {
            // memchr to the next 'O': a probe lands inside a page and passes over its body's bytes
            const void* o = std::memchr(chunk + i, 'O', static_cast<size_t>(n - 3 - i));
            if (!o) break;
            i = static_cast<const BYTE*>(o) - chunk;
            if (std::memcmp(chunk + i, "OggS", 4) != 0) continue;
            // A capture pattern in the data is no page: its header must chain to the next page (or reach the
            // end exactly), or else its checksum must be right (a real page followed by damage).
            PageInfo candidate;
            if (!HeaderAt(at + i, &candidate)) continue;
            PageInfo after;
            if (candidate.End() == m_llLength || HeaderAt(candidate.End(), &after) || ChecksumRight(candidate)) {
                *page = candidate;
                return true;
            }
        }
        at += n - 3; // the last three bytes again: a pattern across the chunks' border
    }
    return false;
}

bool CPageScanner::Next(const PageInfo& page, LONGLONG limit, PageInfo* next) {
    if (page.End() >= limit || page.End() >= m_llLength) return false;
    if (HeaderAt(page.End(), next)) return true;
    return SyncAt(page.End(), limit, next);
}

const BYTE* CPageScanner::Body(const PageInfo& page) {
    if (!m_pPage || !Read(page.pos + page.HeaderLen(), page.bodyLen, m_pPage)) return nullptr;
    return m_pPage;
}

bool CPageScanner::Whole(const PageInfo& page, ogg_page* out) {
    const LONGLONG size = page.End() - page.pos;
    if (!m_pPage || size > static_cast<LONGLONG>(kMaxPage) || !Read(page.pos, size, m_pPage)) return false;
    out->header = m_pPage;
    out->header_len = page.HeaderLen();
    out->body = m_pPage + page.HeaderLen();
    out->body_len = page.bodyLen;
    return true;
}
