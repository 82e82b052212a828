// Basic Windows types and the HRESULT / Win32 error codes the source uses, with their real values.
#pragma once
#include <cstddef>
#include <cstdint>

// printf-style arguments checked against their format (argument positions counted from 1).
#define PLAT_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))

// The SDK's calling conventions: nothing on this platform (on 32-bit Windows they select __stdcall).
#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPICALLTYPE
// The module's entry points: C names, visible outside the shared object (its version script picks them).
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT STDAPICALLTYPE
#define WINAPI

typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef uint8_t BOOLEAN;
typedef uint8_t BYTE;
typedef uint8_t UINT8;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint16_t VARTYPE;
typedef int16_t SHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef uint32_t UINT32;
typedef int32_t INT32;
typedef uint64_t UINT64;
typedef int64_t INT64;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t QWORD;
typedef float FLOAT;
typedef double DOUBLE;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* LPCOLESTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef const void* LPCVOID;
typedef WCHAR* LPOLESTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef LONGLONG REFERENCE_TIME;
typedef LONGLONG MFTIME;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER;

// 100-ns intervals since January 1, 1601 (UTC).
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef SHORT VARIANT_BOOL;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define INFINITE 0xFFFFFFFFu
#define MAX_PATH 260

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HR(x) static_cast<HRESULT>(x##u)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = HR(0x80004002);
constexpr HRESULT E_POINTER = HR(0x80004003);
constexpr HRESULT E_ABORT = HR(0x80004004);
constexpr HRESULT E_FAIL = HR(0x80004005);
constexpr HRESULT E_UNEXPECTED = HR(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = HR(0x80070005);
constexpr HRESULT E_HANDLE = HR(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = HR(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = HR(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = HR(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = HR(0x80040154);
constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = HR(0x8007007A);

// Structured storage (streams).
constexpr HRESULT STG_E_INVALIDFUNCTION = HR(0x80030001);
constexpr HRESULT STG_E_ACCESSDENIED = HR(0x80030005);
constexpr HRESULT STG_E_INSUFFICIENTMEMORY = HR(0x80030008);
constexpr HRESULT STG_E_INVALIDPOINTER = HR(0x80030009);
constexpr HRESULT STG_E_SEEKERROR = HR(0x80030019);
constexpr HRESULT STG_E_WRITEFAULT = HR(0x8003001D);
constexpr HRESULT STG_E_READFAULT = HR(0x8003001E);
constexpr HRESULT STG_E_INVALIDPARAMETER = HR(0x80030057);
constexpr HRESULT STG_E_MEDIUMFULL = HR(0x80030070);
constexpr HRESULT STG_E_INVALIDFLAG = HR(0x800300FF);

constexpr HRESULT MF_E_PLATFORM_NOT_INITIALIZED = HR(0xC00D36B0);
constexpr HRESULT MF_E_BUFFERTOOSMALL = HR(0xC00D36B1);
constexpr HRESULT MF_E_INVALIDREQUEST = HR(0xC00D36B2);
constexpr HRESULT MF_E_INVALIDSTREAMNUMBER = HR(0xC00D36B3);
constexpr HRESULT MF_E_INVALIDMEDIATYPE = HR(0xC00D36B4);
constexpr HRESULT MF_E_NOTACCEPTING = HR(0xC00D36B5);
constexpr HRESULT MF_E_NOT_INITIALIZED = HR(0xC00D36B6);
constexpr HRESULT MF_E_UNSUPPORTED_REPRESENTATION = HR(0xC00D36B7);
constexpr HRESULT MF_E_NO_MORE_TYPES = HR(0xC00D36B9);
constexpr HRESULT MF_E_UNSUPPORTED_SERVICE = HR(0xC00D36BA);
constexpr HRESULT MF_E_UNEXPECTED = HR(0xC00D36BB);
constexpr HRESULT MF_E_INVALIDTYPE = HR(0xC00D36BD);
constexpr HRESULT MF_E_INVALIDINDEX = HR(0xC00D36BF);
constexpr HRESULT MF_E_UNSUPPORTED_SCHEME = HR(0xC00D36C3);
constexpr HRESULT MF_E_UNSUPPORTED_BYTESTREAM_TYPE = HR(0xC00D36C4);
constexpr HRESULT MF_E_INVALID_FILE_FORMAT = HR(0xC00D36BE);
constexpr HRESULT MF_E_UNSUPPORTED_TIME_FORMAT = HR(0xC00D36C5);
constexpr HRESULT MF_E_UNSUPPORTED_RATE = HR(0xC00D36D0);
constexpr HRESULT MF_E_THINNING_UNSUPPORTED = HR(0xC00D36D1);
constexpr HRESULT MF_E_REVERSE_UNSUPPORTED = HR(0xC00D36D2);
constexpr HRESULT MF_E_MULTIPLE_BEGIN = HR(0xC00D36D9);
constexpr HRESULT MF_E_MULTIPLE_SUBSCRIBERS = HR(0xC00D36DA);
constexpr HRESULT MF_E_ATTRIBUTENOTFOUND = HR(0xC00D36E6);
constexpr HRESULT MF_E_PROPERTY_NOT_FOUND = HR(0xC00D3E8D);
constexpr HRESULT MF_E_CANNOT_PARSE_BYTESTREAM = HR(0xC00D36F0);
constexpr HRESULT MF_E_NO_EVENTS_AVAILABLE = HR(0xC00D3E80);
constexpr HRESULT MF_E_INVALID_STATE_TRANSITION = HR(0xC00D3E82);
constexpr HRESULT MF_E_END_OF_STREAM = HR(0xC00D3E84);
constexpr HRESULT MF_E_SHUTDOWN = HR(0xC00D3E85);
constexpr HRESULT MF_E_MEDIA_SOURCE_WRONGSTATE = HR(0xC00D3E9B);
constexpr HRESULT MF_E_NET_CONNECTION_FAILURE = HR(0xC00D4283);
constexpr HRESULT MF_E_NO_SAMPLE_TIMESTAMP = HR(0xC00D36C8);
constexpr HRESULT MF_E_NO_SAMPLE_DURATION = HR(0xC00D36C9);
constexpr HRESULT MF_E_OPERATION_CANCELLED = HR(0xC00D36ED);
constexpr HRESULT MF_E_BYTESTREAM_NOT_SEEKABLE = HR(0xC00D36EE);
// Network failures, as the system's network byte streams report them.
constexpr HRESULT MF_E_NET_READ = HR(0xC00D426A);
constexpr HRESULT MF_E_NET_TOO_MANY_REDIRECTS = HR(0xC00D4277);
constexpr HRESULT MF_E_NET_TIMEOUT = HR(0xC00D4278);
constexpr HRESULT MF_E_NET_BAD_CONTROL_DATA = HR(0xC00D427A);
constexpr HRESULT MF_E_NET_INCOMPATIBLE_SERVER = HR(0xC00D427B);
constexpr HRESULT MF_E_NET_UNSAFE_URL = HR(0xC00D427C);
constexpr HRESULT MF_E_NET_BAD_REQUEST = HR(0xC00D427F);
constexpr HRESULT MF_E_NET_INTERNAL_SERVER_ERROR = HR(0xC00D4280);
constexpr HRESULT MF_E_NET_SERVER_ACCESSDENIED = HR(0xC00D4285);
constexpr HRESULT MF_E_NET_CANNOTCONNECT = HR(0xC00D4287);
constexpr HRESULT MF_E_NET_SERVER_UNAVAILABLE = HR(0xC00D428E);

// Win32 error codes (the registry functions return these directly).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_FILE_EXISTS = 80;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_INVALID_NAME = 123;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_ALREADY_INITIALIZED = 1247;

constexpr HRESULT HRESULT_FROM_WIN32(LONG code) {
    return code <= 0 ? static_cast<HRESULT>(code)
                     : static_cast<HRESULT>((static_cast<uint32_t>(code) & 0xFFFFu) | 0x80070000u);
}

// The name of a known HRESULT ("MF_E_SHUTDOWN"), or null.
extern "C" const char* PlatHResultName(HRESULT hr);
