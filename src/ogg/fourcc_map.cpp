#include "fourcc_map.h"

bool CFourccMap::Add(uint32_t from, uint32_t to) {
    for (int i = 0; i < m_count; ++i)
        if (m_from[i] == from) {
            m_to[i] = to;
            return true;
        }
    if (m_count == kMaxEntries) return false;
    m_from[m_count] = from;
    m_to[m_count++] = to;
    return true;
}

bool CFourccMap::Find(uint32_t from, uint32_t* to) const {
    for (int i = 0; i < m_count; ++i)
        if (m_from[i] == from) {
            *to = m_to[i];
            return true;
        }
    return false;
}

uint32_t CFourccMap::Map(uint32_t fourcc) const {
    uint32_t name = fourcc, result = fourcc;
    for (int steps = m_count + 1; steps > 0; --steps) {
        uint32_t next = 0;
        if (!Find(name, &next)) return result;
        if (next == fourcc) return name;
        result = name = next;
    }
    return result;
}
