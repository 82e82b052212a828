// The core's only way to the bytes of a file: reads at an offset, the length when it is known, and what the
// bytes can do. Its owner implements it over whatever it was handed (a Media Foundation byte stream, a shell
// stream, memory in a test). Reads may block for as long as the bytes take to come; the core never holds a lock
// that anything else waits for while it reads.
#pragma once
#include "ogg_types.h"

struct ByteSourceCaps {
    LONGLONG length = -1;  // -1: not known
    bool seekable = true;  // reads at any offset; else only at the offset after the last read
    bool remote = false;   // the bytes come over a network
    bool slowSeek = false; // a read elsewhere than after the last costs much more than reading on
    // A broadcast: from the network, read once, of no length (a plain file served that way ends like any other).
    bool Live() const { return remote && !seekable && length < 0; }
    // Bytes per read: a broadcast comes at its bit rate, so it is asked for in small pieces, each handed on as it
    // comes (a 64 KB read of a 128 kbit/s stream would wait 4 s for its last byte).
    LONG ReadChunk() const { return Live() ? 4096 : 65536; }
};

class IOggByteSource {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // Up to `length` bytes at `position`; *got says how many came. S_OK with fewer than asked only at the end of
    // the data, or when the bytes come in pieces (then the next read goes on after them); a failure otherwise.
    virtual HRESULT ReadAt(LONGLONG position, BYTE* buffer, LONG length, LONG* got) = 0;
    virtual ByteSourceCaps Caps() = 0;

protected:
    ~IOggByteSource() = default;
};

// Up to `length` bytes at `position`, read on while they come in pieces: fewer only at the end of the data.
HRESULT ReadFully(IOggByteSource* source, LONGLONG position, BYTE* buffer, LONG length, LONG* got);
