#include "byte_source.h"

HRESULT ReadFully(IOggByteSource* source, LONGLONG position, BYTE* buffer, LONG length, LONG* got) {
    *got = 0;
    while (*got < length) {
        LONG n = 0;
        const HRESULT hr = source->ReadAt(position + *got, buffer + *got, length - *got, &n);
        if (FAILED(hr)) return hr;
        if (n <= 0 || n > length - *got) break; // the end of the data
        *got += n;
    }
    return S_OK;
}
