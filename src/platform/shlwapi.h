// The shell's light-weight helpers the property handler uses: streams over memory and over files, and a
// string duplicate from the task allocator.
#pragma once
#include "objidl.h"

extern "C" {
// A readable, writable, growable stream holding a copy of cbInit bytes at pInit (none when pInit is null),
// positioned at 0; null when there is no memory for it. Reads that reach the end return S_FALSE with the
// bytes there were; Clone is not implemented (E_NOTIMPL).
IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit);
// A stream over the file at pszFile. grfMode: STGM_READ, STGM_WRITE or STGM_READWRITE, with STGM_CREATE to
// create or truncate the file; with STGM_FAILIFTHERE, fCreate creates a missing file and refuses an existing
// one (HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)). Sharing flags are accepted and not enforced; dwAttributes is
// not used; pstmTemplate must be null.
HRESULT SHCreateStreamOnFileEx(LPCWSTR pszFile, DWORD grfMode, DWORD dwAttributes, BOOL fCreate,
                               IStream* pstmTemplate, IStream** ppstm);
// A copy of psz from CoTaskMemAlloc.
HRESULT SHStrDupW(LPCWSTR psz, LPWSTR* ppwsz);
}
