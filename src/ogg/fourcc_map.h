// The FOURCC mapping for OGM video: which compression a stream's FOURCC is announced as. Its owner reads it
// from wherever the user keeps it (the registry) and hands it to the core before the open.
#pragma once
#include <cstdint>

class CFourccMap {
public:
    static constexpr int kMaxEntries = 256; // entries beyond are not read
    // false when the table is full.
    bool Add(uint32_t from, uint32_t to);
    // Follows the chain from `fourcc`; `fourcc` itself when nothing maps it. A chain that comes back to its start
    // ends at the entry that returns to it; one that cycles elsewhere ends after as many steps as there are entries.
    uint32_t Map(uint32_t fourcc) const;
    int Count() const { return m_count; }

private:
    bool Find(uint32_t from, uint32_t* to) const;
    uint32_t m_from[kMaxEntries] = {};
    uint32_t m_to[kMaxEntries] = {};
    int m_count = 0;
};
