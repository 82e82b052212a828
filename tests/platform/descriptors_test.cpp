#include <gtest/gtest.h>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
PlatRef<IMFMediaType> TypeWithMajor(REFGUID major) {
    PlatRef<IMFMediaType> t;
    MFCreateMediaType(&t);
    t->SetGUID(MF_MT_MAJOR_TYPE, major);
    return t;
}

PlatRef<IMFStreamDescriptor> Descriptor(DWORD id, REFGUID major) {
    PlatRef<IMFMediaType> t = TypeWithMajor(major);
    IMFMediaType* types[] = {t.Get()};
    PlatRef<IMFStreamDescriptor> sd;
    MFCreateStreamDescriptor(id, 1, types, &sd);
    return sd;
}
} // namespace

TEST(Sample, BuffersTimesAndAttributes) {
    PlatRef<IMFMediaBuffer> buf;
    ASSERT_EQ(MFCreateMemoryBuffer(16, &buf), S_OK);
    BYTE* p = nullptr;
    DWORD max = 0, cur = 99;
    ASSERT_EQ(buf->Lock(&p, &max, &cur), S_OK);
    EXPECT_EQ(max, 16u);
    EXPECT_EQ(cur, 0u);
    std::memcpy(p, "0123456789", 10);
    buf->Unlock();
    EXPECT_EQ(buf->SetCurrentLength(17), E_INVALIDARG);
    ASSERT_EQ(buf->SetCurrentLength(10), S_OK);

    PlatRef<IMFSample> s;
    ASSERT_EQ(MFCreateSample(&s), S_OK);
    LONGLONG none = 0;
    EXPECT_EQ(s->GetSampleTime(&none), MF_E_NO_SAMPLE_TIMESTAMP) << "no time set";
    EXPECT_EQ(s->GetSampleDuration(&none), MF_E_NO_SAMPLE_DURATION) << "no duration set: its own error";
    LONGLONG t = 0;
    EXPECT_TRUE(FAILED(s->GetSampleTime(&t))) << "no time until one is set";
    s->SetSampleTime(-1);
    s->SetSampleDuration(400000);
    ASSERT_EQ(s->GetSampleTime(&t), S_OK);
    EXPECT_EQ(t, -1);
    ASSERT_EQ(s->AddBuffer(buf.Get()), S_OK);
    s->SetUINT32(MFSampleExtension_CleanPoint, 1);
    s->SetUINT64(MFSampleExtension_Discontinuity, 1);
    PlatRef<IMFAttributes> token;
    MFCreateAttributes(&token, 0);
    s->SetUnknown(MFSampleExtension_Token, token.Get());
    DWORD total = 0;
    s->GetTotalLength(&total);
    EXPECT_EQ(total, 10u);
    PlatRef<IMFAttributes> back;
    ASSERT_EQ(s->GetUnknown(MFSampleExtension_Token, IID_IMFAttributes, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back.Get(), token.Get());

    PlatRef<IMFMediaBuffer> second;
    MFCreateMemoryBuffer(4, &second);
    second->Lock(&p, nullptr, nullptr);
    std::memcpy(p, "ab", 2);
    second->Unlock();
    second->SetCurrentLength(2);
    s->AddBuffer(second.Get());
    PlatRef<IMFMediaBuffer> joined;
    ASSERT_EQ(s->ConvertToContiguousBuffer(&joined), S_OK);
    joined->Lock(&p, nullptr, &cur);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), cur), "0123456789ab");
    joined->Unlock();
    DWORD count = 0;
    s->GetBufferCount(&count);
    EXPECT_EQ(count, 1u);
}

TEST(Descriptors, StreamDescriptorAndItsHandler) {
    PlatRef<IMFMediaType> video = TypeWithMajor(MFMediaType_Video);
    PlatRef<IMFMediaType> alt = TypeWithMajor(MFMediaType_Video);
    IMFMediaType* types[] = {video.Get(), alt.Get()};
    PlatRef<IMFStreamDescriptor> sd;
    ASSERT_EQ(MFCreateStreamDescriptor(0x1234, 2, types, &sd), S_OK);
    DWORD id = 0;
    sd->GetStreamIdentifier(&id);
    EXPECT_EQ(id, 0x1234u);
    PlatRef<IMFMediaTypeHandler> h;
    ASSERT_EQ(sd->GetMediaTypeHandler(&h), S_OK);
    DWORD n = 0;
    h->GetMediaTypeCount(&n);
    EXPECT_EQ(n, 2u);
    PlatRef<IMFMediaType> cur;
    EXPECT_EQ(h->GetCurrentMediaType(&cur), MF_E_NOT_INITIALIZED);
    ASSERT_EQ(h->SetCurrentMediaType(alt.Get()), S_OK);
    ASSERT_EQ(h->GetCurrentMediaType(&cur), S_OK);
    EXPECT_EQ(cur.Get(), alt.Get());
    GUID major;
    ASSERT_EQ(h->GetMajorType(&major), S_OK);
    EXPECT_TRUE(IsEqualGUID(major, MFMediaType_Video));
    PlatRef<IMFMediaType> third;
    EXPECT_EQ(h->GetMediaTypeByIndex(2, &third), MF_E_NO_MORE_TYPES);
}

TEST(Descriptors, CloneCopiesTheSelectionAndNeverChangesTheOriginal) {
    PlatRef<IMFStreamDescriptor> a = Descriptor(1, MFMediaType_Video), b = Descriptor(2, MFMediaType_Audio);
    IMFStreamDescriptor* sds[] = {a.Get(), b.Get()};
    PlatRef<IMFPresentationDescriptor> pd;
    ASSERT_EQ(MFCreatePresentationDescriptor(2, sds, &pd), S_OK);
    pd->SelectStream(1);
    pd->SetUINT64(MF_PD_DURATION, 50000000);

    PlatRef<IMFPresentationDescriptor> clone;
    ASSERT_EQ(pd->Clone(&clone), S_OK);
    BOOL selected = TRUE;
    PlatRef<IMFStreamDescriptor> sd;
    ASSERT_EQ(clone->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
    EXPECT_FALSE(selected);
    EXPECT_EQ(sd.Get(), a.Get()) << "a clone shares the stream descriptors";
    clone->GetStreamDescriptorByIndex(1, &selected, &sd);
    EXPECT_TRUE(selected);
    UINT64 duration = 0;
    clone->GetUINT64(MF_PD_DURATION, &duration);
    EXPECT_EQ(duration, 50000000u);

    clone->SelectStream(0);
    clone->DeselectStream(1);
    pd->GetStreamDescriptorByIndex(0, &selected, &sd);
    EXPECT_FALSE(selected);
    pd->GetStreamDescriptorByIndex(1, &selected, &sd);
    EXPECT_TRUE(selected);
    EXPECT_EQ(pd->SelectStream(2), E_INVALIDARG);
    EXPECT_EQ(pd->GetStreamDescriptorByIndex(2, &selected, &sd), E_INVALIDARG);
}
