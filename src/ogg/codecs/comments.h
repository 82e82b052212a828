// Comments in the Vorbis comment layout (a vendor string, then NAME=value strings, each with a 32-bit length),
// as Opus, FLAC and Speex carry them: kept, and looked up by name without regard to case.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "ogg/ogg_types.h"
#include "support/alloc.h"

class CComments {
public:
    CComments() = default;
    ~CComments() {
        std::free(m_data);
        std::free(m_found);
    }
    CComments(const CComments&) = delete;
    CComments& operator=(const CComments&) = delete;

    // The comment block from `offset` into the packet; false (nothing kept) when a length reaches beyond it.
    bool Parse(const BYTE* packet, long bytes, long offset) {
        std::free(m_data);
        m_data = nullptr;
        m_size = 0;
        if (offset < 0 || bytes < offset + 8) return false;
        m_size = bytes - offset;
        m_data = static_cast<BYTE*>(AllocBytes(static_cast<size_t>(m_size)));
        if (!m_data) return false;
        std::memcpy(m_data, packet + offset, static_cast<size_t>(m_size));
        if (Find(nullptr)) return true;
        std::free(m_data);
        m_data = nullptr;
        return false;
    }

    // The first value of that name (NAME=value, the name compared without regard to case), or null; with no
    // name: whether every length holds (a non-null answer).
    const char* Find(const char* name) {
        if (!m_data) return nullptr;
        long at = 0;
        auto take = [&](uint32_t* v) {
            if (m_size - at < 4) return false;
            *v = ReadLE32(m_data + at);
            at += 4;
            return true;
        };
        uint32_t vendor = 0, count = 0;
        if (!take(&vendor) || vendor > static_cast<uint32_t>(m_size - at)) return nullptr;
        at += vendor;
        if (!take(&count)) return nullptr;
        const size_t nameLength = name ? std::strlen(name) : 0;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t length = 0;
            if (!take(&length) || length > static_cast<uint32_t>(m_size - at)) return nullptr;
            const char* text = reinterpret_cast<const char*>(m_data + at);
            if (name && length > nameLength && text[nameLength] == '=' && strncasecmp(text, name, nameLength) == 0) {
                const size_t n = length - nameLength - 1;
                std::free(m_found);
                m_found = static_cast<char*>(AllocBytes(n + 1));
                if (!m_found) return nullptr;
                std::memcpy(m_found, text + nameLength + 1, n);
                m_found[n] = 0;
                return m_found;
            }
            at += length;
        }
        return name ? nullptr : reinterpret_cast<const char*>(m_data);
    }

private:
    BYTE* m_data = nullptr;
    long m_size = 0;
    char* m_found = nullptr;
};
