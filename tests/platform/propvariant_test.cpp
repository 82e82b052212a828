// PROPVARIANT kinds of the property system: deep copies that outlive their source, references on streams,
// clearing that frees everything (ASan's leak check sees what is not).
#include <cwchar>
#include <gtest/gtest.h>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
ULONG RefCount(IUnknown* u) {
    u->AddRef();
    return u->Release();
}
} // namespace

TEST(PropVariant, StringVectorsAreCopiedStringByString) {
    WCHAR a[] = L"Artist One", b[] = L"Zweiter Künstler";
    LPWSTR list[] = {a, nullptr, b};
    PROPVARIANT src;
    PropVariantInit(&src);
    src.vt = VT_VECTOR | VT_LPWSTR;
    src.calpwstr.cElems = 3;
    src.calpwstr.pElems = list;
    PROPVARIANT copy;
    PropVariantInit(&copy);
    ASSERT_EQ(PropVariantCopy(&copy, &src), S_OK);
    ASSERT_EQ(copy.vt, VT_VECTOR | VT_LPWSTR);
    ASSERT_EQ(copy.calpwstr.cElems, 3u);
    EXPECT_NE(copy.calpwstr.pElems, list);
    EXPECT_NE(copy.calpwstr.pElems[0], a);
    EXPECT_STREQ(copy.calpwstr.pElems[0], L"Artist One");
    EXPECT_EQ(copy.calpwstr.pElems[1], nullptr) << "a null entry stays null";
    EXPECT_STREQ(copy.calpwstr.pElems[2], L"Zweiter Künstler");
    a[0] = L'X'; // the copy does not share the source's strings
    EXPECT_STREQ(copy.calpwstr.pElems[0], L"Artist One");
    EXPECT_EQ(PropVariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    EXPECT_EQ(copy.calpwstr.pElems, nullptr);

    src.calpwstr.pElems = nullptr; // a count with no array is refused, not read
    EXPECT_EQ(PropVariantCopy(&copy, &src), E_INVALIDARG);
    src.calpwstr.cElems = 0;
    ASSERT_EQ(PropVariantCopy(&copy, &src), S_OK);
    EXPECT_EQ(copy.calpwstr.cElems, 0u);
    PropVariantClear(&copy);
}

TEST(PropVariant, BlobsAndByteVectorsAreCopied) {
    BYTE bytes[] = {0x89, 'P', 'N', 'G', 0, 1, 2};
    PROPVARIANT src;
    PropVariantInit(&src);
    src.vt = VT_BLOB;
    src.blob.cbSize = sizeof bytes;
    src.blob.pBlobData = bytes;
    PROPVARIANT copy;
    ASSERT_EQ(PropVariantCopy(&copy, &src), S_OK);
    ASSERT_EQ(copy.blob.cbSize, sizeof bytes);
    EXPECT_NE(copy.blob.pBlobData, bytes);
    EXPECT_EQ(std::memcmp(copy.blob.pBlobData, bytes, sizeof bytes), 0);
    PropVariantClear(&copy);
    src.blob.pBlobData = nullptr;
    EXPECT_EQ(PropVariantCopy(&copy, &src), E_INVALIDARG);

    PROPVARIANT v;
    ASSERT_EQ(InitPropVariantFromBuffer(bytes, sizeof bytes, &v), S_OK);
    EXPECT_EQ(v.vt, VT_VECTOR | VT_UI1);
    ASSERT_EQ(v.caub.cElems, sizeof bytes);
    EXPECT_EQ(std::memcmp(v.caub.pElems, bytes, sizeof bytes), 0);
    ASSERT_EQ(PropVariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(std::memcmp(copy.caub.pElems, bytes, sizeof bytes), 0);
    PropVariantClear(&copy);
    PropVariantClear(&v);
}

TEST(PropVariant, StreamsAreReferencedNotCopied) {
    const BYTE data[] = {1, 2, 3};
    IStream* stream = SHCreateMemStream(data, sizeof data);
    ASSERT_NE(stream, nullptr);
    PROPVARIANT src;
    PropVariantInit(&src);
    src.vt = VT_STREAM;
    src.pStream = stream;
    PROPVARIANT copy;
    ASSERT_EQ(PropVariantCopy(&copy, &src), S_OK);
    EXPECT_EQ(copy.pStream, stream);
    EXPECT_EQ(RefCount(stream), 2u);
    PropVariantClear(&copy);
    EXPECT_EQ(RefCount(stream), 1u);
    stream->Release();
}

TEST(PropVariant, ScalarsAndStringsFromTheHelpers) {
    PROPVARIANT v;
    ASSERT_EQ(InitPropVariantFromUInt32(12, &v), S_OK);
    EXPECT_EQ(v.vt, VT_UI4);
    EXPECT_EQ(v.ulVal, 12u);
    ASSERT_EQ(InitPropVariantFromUInt64(1ull << 40, &v), S_OK);
    EXPECT_EQ(v.vt, VT_UI8);
    EXPECT_EQ(v.uhVal.QuadPart, 1ull << 40);
    ASSERT_EQ(InitPropVariantFromBoolean(TRUE, &v), S_OK);
    EXPECT_EQ(v.vt, VT_BOOL);
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);
    ASSERT_EQ(InitPropVariantFromBoolean(FALSE, &v), S_OK);
    EXPECT_EQ(v.boolVal, VARIANT_FALSE);

    ASSERT_EQ(InitPropVariantFromString(L"Titel ✓", &v), S_OK);
    EXPECT_EQ(v.vt, VT_LPWSTR);
    EXPECT_STREQ(v.pwszVal, L"Titel ✓");
    PropVariantClear(&v);
    EXPECT_EQ(InitPropVariantFromString(nullptr, &v), E_INVALIDARG);
    EXPECT_EQ(v.vt, VT_EMPTY);

    LPWSTR dup = nullptr;
    EXPECT_EQ(SHStrDupW(L"abc", &dup), S_OK);
    EXPECT_STREQ(dup, L"abc");
    CoTaskMemFree(dup);
    EXPECT_EQ(SHStrDupW(nullptr, &dup), E_INVALIDARG);
    EXPECT_EQ(dup, nullptr);
}

TEST(PropVariant, FileTimesAndBooleansCopyAsTheyAre) {
    PROPVARIANT src, copy;
    PropVariantInit(&src);
    src.vt = VT_FILETIME;
    src.filetime = FILETIME{0x89abcdefu, 0x01d00000u};
    ASSERT_EQ(PropVariantCopy(&copy, &src), S_OK);
    EXPECT_EQ(copy.filetime.dwLowDateTime, 0x89abcdefu);
    EXPECT_EQ(copy.filetime.dwHighDateTime, 0x01d00000u);
    EXPECT_EQ(PropVariantClear(&copy), S_OK);
}
