#include <gtest/gtest.h>

#include "platform/com_impl.h"
#include "platform/platform.h"

TEST(Attributes, TypedGettersFailLikeTheRealStore) {
    PlatRef<IMFAttributes> a;
    ASSERT_EQ(MFCreateAttributes(&a, 4), S_OK);
    UINT32 u32 = 7;
    UINT64 u64 = 0;
    GUID g;
    EXPECT_EQ(a->GetUINT32(MF_MT_SAMPLE_SIZE, &u32), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(u32, 7u) << "a failed getter leaves the output alone";
    ASSERT_EQ(a->SetUINT32(MF_MT_SAMPLE_SIZE, 42), S_OK);
    EXPECT_EQ(a->GetUINT64(MF_MT_SAMPLE_SIZE, &u64), MF_E_INVALIDTYPE);
    EXPECT_EQ(a->GetGUID(MF_MT_SAMPLE_SIZE, &g), MF_E_INVALIDTYPE);
    ASSERT_EQ(a->GetUINT32(MF_MT_SAMPLE_SIZE, &u32), S_OK);
    EXPECT_EQ(u32, 42u);
    ASSERT_EQ(a->SetUINT32(MF_MT_SAMPLE_SIZE, 43), S_OK); // replaces, does not add
    UINT32 count = 0;
    a->GetCount(&count);
    EXPECT_EQ(count, 1u);

    ASSERT_EQ(a->SetGUID(MF_MT_SUBTYPE, MEDIATYPE_Audio), S_OK);
    ASSERT_EQ(a->GetGUID(MF_MT_SUBTYPE, &g), S_OK);
    EXPECT_TRUE(IsEqualGUID(g, MEDIATYPE_Audio));

    ASSERT_EQ(a->SetString(MF_MT_USER_DATA, L"hello"), S_OK);
    UINT32 len = 0;
    WCHAR small[3], big[16];
    EXPECT_EQ(a->GetStringLength(MF_MT_USER_DATA, &len), S_OK);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(a->GetString(MF_MT_USER_DATA, small, 3, &len), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(a->GetString(MF_MT_USER_DATA, big, 16, &len), S_OK);
    EXPECT_STREQ(big, L"hello");

    const UINT8 blob[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(a->SetBlob(MF_MT_FRAME_SIZE, blob, sizeof blob), S_OK);
    UINT8* copy = nullptr;
    UINT32 size = 0;
    ASSERT_EQ(a->GetAllocatedBlob(MF_MT_FRAME_SIZE, &copy, &size), S_OK);
    ASSERT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(copy, blob, 5), 0);
    EXPECT_NE(copy, blob);
    CoTaskMemFree(copy);
    UINT8 tiny[2];
    EXPECT_EQ(a->GetBlob(MF_MT_FRAME_SIZE, tiny, 2, &size), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));

    PROPVARIANT bad;
    PropVariantInit(&bad);
    bad.vt = VT_I4;
    EXPECT_EQ(a->SetItem(MF_MT_COMPRESSED, bad), MF_E_INVALIDTYPE) << "only MF's seven types are storable";
}

TEST(Attributes, CopyAndCompareAreDeep) {
    PlatRef<IMFAttributes> a, b;
    MFCreateAttributes(&a, 0);
    MFCreateAttributes(&b, 0);
    a->SetUINT32(MF_MT_SAMPLE_SIZE, 1);
    a->SetString(MF_MT_USER_DATA, L"x");
    b->SetUINT32(MF_MT_COMPRESSED, 9);
    ASSERT_EQ(a->CopyAllItems(b.Get()), S_OK);
    UINT32 n = 0;
    b->GetCount(&n);
    EXPECT_EQ(n, 2u) << "CopyAllItems replaces what the destination had";
    BOOL same = FALSE;
    a->Compare(b.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same);
    EXPECT_TRUE(same);
    a->SetString(MF_MT_USER_DATA, L"y"); // b's copy of the string must not change with it
    a->Compare(b.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same);
    EXPECT_FALSE(same);
    b->SetUINT32(MF_MT_COMPRESSED, 1);
    a->SetString(MF_MT_USER_DATA, L"x");
    a->Compare(b.Get(), MF_ATTRIBUTES_MATCH_OUR_ITEMS, &same);
    EXPECT_TRUE(same);
    a->Compare(b.Get(), MF_ATTRIBUTES_MATCH_THEIR_ITEMS, &same);
    EXPECT_FALSE(same);
}

TEST(PropVariant, CopyIsDeepAndClearReleases) {
    PlatRef<IMFAttributes> unk;
    MFCreateAttributes(&unk, 0);
    PROPVARIANT src, dst;
    PropVariantInit(&src);
    src.vt = VT_UNKNOWN;
    src.punkVal = unk.Get();
    ASSERT_EQ(PropVariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(unk->AddRef(), 3u) << "the copy holds a reference of its own";
    unk->Release();
    PropVariantClear(&dst);
    EXPECT_EQ(dst.vt, VT_EMPTY);
    EXPECT_EQ(unk->AddRef(), 2u);
    unk->Release();

    WCHAR text[] = L"abc";
    src.vt = VT_LPWSTR;
    src.pwszVal = text;
    ASSERT_EQ(PropVariantCopy(&dst, &src), S_OK);
    EXPECT_NE(dst.pwszVal, text);
    text[0] = L'z';
    EXPECT_STREQ(dst.pwszVal, L"abc");
    PropVariantClear(&dst);

    src.vt = VT_I8;
    src.hVal.QuadPart = -5;
    PropVariantCopy(&dst, &src);
    EXPECT_EQ(dst.hVal.QuadPart, -5);
}

TEST(Com, GuidTextAndQISearch) {
    WCHAR text[39];
    EXPECT_EQ(StringFromGUID2(MF_MT_MAJOR_TYPE, text, 38), 0);
    ASSERT_EQ(StringFromGUID2(MF_MT_MAJOR_TYPE, text, 39), 39);
    EXPECT_STREQ(text, L"{48EBA18E-F8C9-4687-BF11-0A74C9F96A8F}");
    LPOLESTR alloc = nullptr;
    ASSERT_EQ(StringFromCLSID(IID_IUnknown, &alloc), S_OK);
    EXPECT_STREQ(alloc, L"{00000000-0000-0000-C000-000000000046}");
    CoTaskMemFree(alloc);

    PlatRef<IMFMediaType> t;
    MFCreateMediaType(&t);
    IUnknown* unk = nullptr;
    IMFSample* sample = nullptr;
    ASSERT_EQ(t->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
    EXPECT_EQ(static_cast<void*>(unk), static_cast<void*>(t.Get()));
    unk->Release();
    EXPECT_EQ(t->QueryInterface(IID_IMFSample, reinterpret_cast<void**>(&sample)), E_NOINTERFACE);
    EXPECT_EQ(sample, nullptr);
}

TEST(Com, MulDivRoundsToNearest) {
    EXPECT_EQ(MulDiv(240, 4, 3), 320);
    EXPECT_EQ(MulDiv(320, 4, 3), 427); // 426.67
    EXPECT_EQ(MulDiv(5, 1, 2), 3);     // halves go away from zero
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv(5, -1, 2), -3);
    EXPECT_EQ(MulDiv(-7, 1, -2), 4);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 1), -1) << "an overflowing result is -1";
    EXPECT_EQ(MulDiv(0x40000000, 0x40000000, 0x40000000), 0x40000000) << "64-bit intermediate";
}

TEST(MediaType, InitFromAMMediaTypeKeepsTheBlockAndDerivesAttributes) {
    struct {
        WAVEFORMATEX wf;
        BYTE extra[6];
    } audio{};
    audio.wf = {0x674f, 2, 44100, 16000, 1, 0, 6};
    std::memcpy(audio.extra, "vorbis", 6);
    AM_MEDIA_TYPE am{};
    am.majortype = MEDIATYPE_Audio;
    am.subtype = GuidFromFourcc(0x674f);
    am.bFixedSizeSamples = FALSE;
    am.bTemporalCompression = TRUE;
    am.lSampleSize = 0;
    am.formattype = FORMAT_WaveFormatEx;
    am.cbFormat = sizeof audio;
    am.pbFormat = reinterpret_cast<BYTE*>(&audio);

    PlatRef<IMFMediaType> t;
    MFCreateMediaType(&t);
    ASSERT_EQ(MFInitMediaTypeFromAMMediaType(t.Get(), &am), S_OK);
    GUID major;
    UINT32 v = 0;
    ASSERT_EQ(t->GetMajorType(&major), S_OK);
    EXPECT_TRUE(IsEqualGUID(major, MFMediaType_Audio));
    EXPECT_EQ(t->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &v), S_OK);
    EXPECT_EQ(v, 2u);
    t->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &v);
    EXPECT_EQ(v, 44100u);
    t->GetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, &v);
    EXPECT_EQ(v, 0u);
    UINT8 user[16];
    UINT32 n = 0;
    ASSERT_EQ(t->GetBlob(MF_MT_USER_DATA, user, sizeof user, &n), S_OK);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(std::memcmp(user, "vorbis", 6), 0);

    AM_MEDIA_TYPE* back = nullptr;
    ASSERT_EQ(t->GetRepresentation(AM_MEDIA_TYPE_REPRESENTATION, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_TRUE(IsEqualGUID(back->subtype, am.subtype));
    EXPECT_TRUE(IsEqualGUID(back->formattype, FORMAT_WaveFormatEx));
    ASSERT_EQ(back->cbFormat, sizeof audio);
    EXPECT_EQ(std::memcmp(back->pbFormat, &audio, sizeof audio), 0);
    EXPECT_TRUE(back->bTemporalCompression);
    t->FreeRepresentation(AM_MEDIA_TYPE_REPRESENTATION, back);

    // A VIDEOINFOHEADER2 block: frame size, rate and the pixel aspect from the picture aspect.
    VIDEOINFOHEADER2 vih{};
    vih.AvgTimePerFrame = 400000; // 25 fps
    vih.dwPictAspectRatioX = 16;
    vih.dwPictAspectRatioY = 9;
    vih.bmiHeader.biWidth = 720;
    vih.bmiHeader.biHeight = 576;
    AM_MEDIA_TYPE vm{};
    vm.majortype = MEDIATYPE_Video;
    vm.formattype = FORMAT_VideoInfo2;
    vm.cbFormat = sizeof vih;
    vm.pbFormat = reinterpret_cast<BYTE*>(&vih);
    ASSERT_EQ(MFInitMediaTypeFromAMMediaType(t.Get(), &vm), S_OK);
    UINT64 size = 0, rate = 0, par = 0;
    t->GetUINT64(MF_MT_FRAME_SIZE, &size);
    t->GetUINT64(MF_MT_FRAME_RATE, &rate);
    t->GetUINT64(MF_MT_PIXEL_ASPECT_RATIO, &par);
    EXPECT_EQ(size, (720ull << 32) | 576);
    EXPECT_EQ(rate, (25ull << 32) | 1);
    EXPECT_EQ(par, (64ull << 32) | 45) << "16:9 on 720x576 is 64:45 pixels";
    EXPECT_EQ(t->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &v), MF_E_ATTRIBUTENOTFOUND) << "re-init clears first";

    vm.cbFormat = 10; // too short for its format type: the block is kept, nothing is derived from it
    ASSERT_EQ(MFInitMediaTypeFromAMMediaType(t.Get(), &vm), S_OK);
    EXPECT_EQ(t->GetUINT64(MF_MT_FRAME_SIZE, &size), MF_E_ATTRIBUTENOTFOUND);
    vm.pbFormat = nullptr;
    EXPECT_EQ(MFInitMediaTypeFromAMMediaType(t.Get(), &vm), E_INVALIDARG);
}
