// The memory property store as propsys has it: copies by key in first-set order, empty for unknown keys.
#include <gtest/gtest.h>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
PlatRef<IPropertyStore> NewStore() {
    PlatRef<IPropertyStore> store;
    EXPECT_EQ(PSCreateMemoryPropertyStore(IID_IPropertyStore, reinterpret_cast<void**>(&store)), S_OK);
    return store;
}
} // namespace

TEST(MemoryPropertyStore, KeepsCopiesByKeyInFirstSetOrder) {
    PlatRef<IPropertyStore> store = NewStore();
    ASSERT_TRUE(store);
    PROPVARIANT v;
    ASSERT_EQ(InitPropVariantFromString(L"First", &v), S_OK);
    ASSERT_EQ(store->SetValue(PKEY_Title, v), S_OK);
    v.pwszVal[0] = L'X'; // the store holds its own copy
    PropVariantClear(&v);
    ASSERT_EQ(InitPropVariantFromUInt32(7, &v), S_OK);
    ASSERT_EQ(store->SetValue(PKEY_Music_TrackNumber, v), S_OK);
    ASSERT_EQ(InitPropVariantFromUInt64(123456789ull, &v), S_OK);
    ASSERT_EQ(store->SetValue(PKEY_Media_Duration, v), S_OK);
    ASSERT_EQ(InitPropVariantFromString(L"Second", &v), S_OK);
    ASSERT_EQ(store->SetValue(PKEY_Title, v), S_OK) << "a second value replaces the first";
    PropVariantClear(&v);

    DWORD count = 0;
    ASSERT_EQ(store->GetCount(&count), S_OK);
    ASSERT_EQ(count, 3u);
    PROPERTYKEY key;
    ASSERT_EQ(store->GetAt(0, &key), S_OK);
    EXPECT_TRUE(key == PKEY_Title);
    ASSERT_EQ(store->GetAt(2, &key), S_OK);
    EXPECT_TRUE(key == PKEY_Media_Duration);
    EXPECT_EQ(store->GetAt(3, &key), E_INVALIDARG);

    PROPVARIANT out;
    ASSERT_EQ(store->GetValue(PKEY_Title, &out), S_OK);
    ASSERT_EQ(out.vt, VT_LPWSTR);
    EXPECT_STREQ(out.pwszVal, L"Second");
    PropVariantClear(&out);
    ASSERT_EQ(store->GetValue(PKEY_Music_TrackNumber, &out), S_OK);
    EXPECT_EQ(out.vt, VT_UI4);
    EXPECT_EQ(out.ulVal, 7u);
    ASSERT_EQ(store->GetValue(PKEY_Music_Genre, &out), S_OK) << "a key never set is empty, not an error";
    EXPECT_EQ(out.vt, VT_EMPTY);
    EXPECT_EQ(store->GetValue(PKEY_Title, nullptr), E_POINTER);
    EXPECT_EQ(store->Commit(), S_OK);
}

TEST(MemoryPropertyStore, KeysDifferingOnlyInTheirIdAreDifferent) {
    PlatRef<IPropertyStore> store = NewStore();
    PROPVARIANT v;
    InitPropVariantFromUInt32(1, &v);
    store->SetValue(PKEY_Title, v); // {F29F85E0...}, 2
    InitPropVariantFromUInt32(2, &v);
    store->SetValue(PKEY_Comment, v); // {F29F85E0...}, 6
    PROPVARIANT out;
    store->GetValue(PKEY_Title, &out);
    EXPECT_EQ(out.ulVal, 1u);
    store->GetValue(PKEY_Comment, &out);
    EXPECT_EQ(out.ulVal, 2u);
    DWORD count = 0;
    store->GetCount(&count);
    EXPECT_EQ(count, 2u);
}

TEST(MemoryPropertyStore, HoldsStreamsByReferenceAndAnswersOnlyItsInterface) {
    PlatRef<IPropertyStore> store = NewStore();
    const BYTE jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
    IStream* cover = SHCreateMemStream(jpeg, sizeof jpeg);
    ASSERT_NE(cover, nullptr);
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_STREAM;
    v.pStream = cover;
    ASSERT_EQ(store->SetValue(PKEY_ThumbnailStream, v), S_OK);
    cover->Release(); // the store's reference keeps it
    PROPVARIANT out;
    ASSERT_EQ(store->GetValue(PKEY_ThumbnailStream, &out), S_OK);
    ASSERT_EQ(out.vt, VT_STREAM);
    BYTE read[8];
    ULONG n = 0;
    EXPECT_EQ(out.pStream->Read(read, sizeof read, &n), S_FALSE);
    EXPECT_EQ(n, sizeof jpeg);
    EXPECT_EQ(std::memcmp(read, jpeg, n), 0);
    PropVariantClear(&out);

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(store->QueryInterface(IID_IStream, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    PlatRef<IUnknown> unknown;
    EXPECT_EQ(store->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    void* none = nullptr;
    EXPECT_EQ(PSCreateMemoryPropertyStore(IID_IMFAttributes, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST(MemoryPropertyStore, RefusedAllocationsFailCleanly) {
    void* store = nullptr;
    PlatFailAllocation(0, 0);
    EXPECT_EQ(PSCreateMemoryPropertyStore(IID_IPropertyStore, &store), E_OUTOFMEMORY);
    PlatFailAllocation(-1, 0);
    EXPECT_EQ(store, nullptr);
}
