// Opening files: discovery, stream records, media types, start and end times, selection, failures.
#include <cstring>

#include "common/fixtures.h"
#include "ogg/media_types.h"
#include "ogg/logical_stream.h"
#include "source/ogg_attributes.h"

namespace {
std::string Guid(REFGUID g) { return host::GuidText(g); }

// The format block of a stream's current media type, as announced.
std::vector<uint8_t> FormatBlock(IMFMediaSource* source, DWORD index, GUID* formatType = nullptr) {
    PlatRef<IMFPresentationDescriptor> pd;
    source->CreatePresentationDescriptor(&pd);
    BOOL selected;
    PlatRef<IMFStreamDescriptor> sd;
    pd->GetStreamDescriptorByIndex(index, &selected, &sd);
    PlatRef<IMFMediaTypeHandler> h;
    sd->GetMediaTypeHandler(&h);
    PlatRef<IMFMediaType> t;
    h->GetCurrentMediaType(&t);
    AM_MEDIA_TYPE* am = nullptr;
    t->GetRepresentation(AM_MEDIA_TYPE_REPRESENTATION, reinterpret_cast<void**>(&am));
    std::vector<uint8_t> block(am->pbFormat, am->pbFormat + am->cbFormat);
    if (formatType) *formatType = am->formattype;
    t->FreeRepresentation(AM_MEDIA_TYPE_REPRESENTATION, am);
    return block;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint64_t U64(const std::vector<uint8_t>& b, size_t at) { return U32(b, at) | static_cast<uint64_t>(U32(b, at + 4)) << 32; }
uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
} // namespace

using OpenTest = SourceTest;

TEST_F(OpenTest, EveryKindOpensWithItsCodecMediaTypeAndTimes) {
    Fixture f = MakeFile("kinds", R"({"seed": 5, "streams": [
        {"kind": "vorbis", "serial": 1, "seconds": 2, "rate": 44100, "channels": 2},
        {"kind": "theora", "serial": 2, "width": 320, "height": 240, "fps_num": 30000, "fps_den": 1001,
         "keyint": 12, "seconds": 2, "aspect_num": 4, "aspect_den": 3},
        {"kind": "ogm_video", "serial": 3, "fourcc": "DIVX", "packets": 50, "time_unit": 400000,
         "buffer_size": 65536, "width": 176, "height": 144, "bits_per_sample": 12},
        {"kind": "ogm_audio", "serial": 4, "format_tag": 85, "channels": 2, "samples_per_unit": 44100,
         "block_align": 1, "avg_bytes_per_sec": 16000, "packets": 40, "buffer_size": 1000},
        {"kind": "ogm_text", "serial": 5, "packets": 3},
        {"kind": "directx", "serial": 6, "media": "video", "fourcc": "MP42", "packets": 10, "width": 64, "height": 48},
        {"kind": "dshow", "serial": 7, "media": "audio", "format_tag": 65534, "packets": 10, "extra": "0a0b0c"},
        {"kind": "unknown", "serial": 8, "packets": 3}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    nlohmann::json j = Probe(s.source.Get());
    ASSERT_EQ(j["streams"].size(), 7u) << "the stream of an unknown codec gets no media stream";
    EXPECT_EQ(StreamById(j, 8), nullptr);

    const auto& vorbis = *StreamById(j, 1);
    EXPECT_EQ(vorbis["codec"], "vorbis");
    EXPECT_EQ(vorbis["subtype"], Guid(MEDIASUBTYPE_OggVorbis));
    EXPECT_EQ(vorbis["format_type"], Guid(FORMAT_OggVorbis));
    EXPECT_EQ(vorbis["channels"], 2);
    EXPECT_EQ(vorbis["sample_rate"], 44100);
    EXPECT_TRUE(vorbis["selected"].get<bool>()) << "the first audio stream";
    EXPECT_EQ(vorbis["end"], 20000000) << "2 s of audio: the last granule is 88200";

    const auto& theora = *StreamById(j, 2);
    EXPECT_EQ(theora["codec"], "theora");
    EXPECT_EQ(theora["subtype"], Guid(GuidFromFourcc(FOURCC_KTHE)));
    EXPECT_EQ(theora["format_type"], Guid(FORMAT_VideoInfo2));
    EXPECT_EQ(theora["avg_time_per_frame"], 333666);
    EXPECT_EQ(theora["picture_aspect"], nlohmann::json({427, 240}));
    EXPECT_TRUE(theora["selected"].get<bool>()) << "the first video stream";
    EXPECT_EQ(theora["media_types"], 2);

    const auto& video = *StreamById(j, 3);
    EXPECT_EQ(video["codec"], "ogm");
    EXPECT_EQ(video["ogm_type"], "video");
    EXPECT_EQ(video["subtype"], Guid(GuidFromFourcc(0x58564944)));
    EXPECT_EQ(video["fourcc"], "DIVX");
    EXPECT_FALSE(video["selected"].get<bool>()) << "only the first video stream is selected";
    // The start is the time of the first data packet, worked back from the first granule position (that of
    // the last packet completed on the first data page) over the durations of the packets before it.
    const auto& vp = f.record.streams[2].packets;
    size_t last = 0;
    while (last + 1 < vp.size() && vp[last + 1].page == vp[0].page) ++last;
    ASSERT_GT(last, 0u) << "the first data page holds several packets: the start is worked back";
    EXPECT_EQ(video["start"], vp[0].granule * 400000);
    EXPECT_EQ(video["end"], 49 * 400000) << "the last page's granule 49 at 400000 per unit";
    std::vector<uint8_t> vi = FormatBlock(s.source.Get(), 2);
    ASSERT_EQ(vi.size(), 1128u);
    EXPECT_EQ(U64(vi, 40), 400000u);
    EXPECT_EQ(U32(vi, 48), 40u);
    EXPECT_EQ(U32(vi, 52), 176u);
    EXPECT_EQ(U32(vi, 56), 144u);
    EXPECT_EQ(U16(vi, 60), 1);
    EXPECT_EQ(U16(vi, 62), 12);
    EXPECT_EQ(U32(vi, 64), 0x58564944u);

    const auto& audio = *StreamById(j, 4);
    EXPECT_EQ(audio["ogm_type"], "audio");
    EXPECT_EQ(audio["subtype"], Guid(GuidFromFourcc(0x55)));
    EXPECT_EQ(audio["format_tag"], 0x55);
    EXPECT_EQ(audio["block_align"], 1);
    EXPECT_EQ(audio["avg_bytes_per_sec"], 16000);
    std::vector<uint8_t> wf = FormatBlock(s.source.Get(), 3);
    ASSERT_EQ(wf.size(), 18u);
    EXPECT_EQ(U16(wf, 16), 0) << "no extra bytes";

    const auto& text = *StreamById(j, 5);
    EXPECT_EQ(text["major"], "text");
    EXPECT_EQ(text["ogm_type"], "text");
    EXPECT_EQ(text["subtype"], Guid(GUID_NULL));

    const auto& dx = *StreamById(j, 6);
    EXPECT_EQ(dx["ogm_type"], "directx");
    EXPECT_EQ(dx["major"], "video");
    EXPECT_EQ(dx["subtype"], Guid(GuidFromFourcc(0x3234504D)));
    EXPECT_EQ(dx["width"], 64);

    const auto& ds = *StreamById(j, 7);
    EXPECT_EQ(ds["ogm_type"], "audio") << "the DirectShow form becomes an OGM audio header";
    EXPECT_EQ(ds["format_tag"], 0xFFFE) << "the tag travels as the text fffe";
    std::vector<uint8_t> dsBlock = FormatBlock(s.source.Get(), 6);
    ASSERT_EQ(dsBlock.size(), 21u);
    EXPECT_EQ(U16(dsBlock, 16), 3);
    EXPECT_EQ(dsBlock[18], 0x0a);
    EXPECT_EQ(dsBlock[20], 0x0c);

    // The presentation ends with its last stream: the text line at 4 s (granule 4000 of 1 ms units). Every
    // stream starts at 0 here, so the origin is 0 and the duration is the end time.
    EXPECT_EQ(text["end"], 40000000);
    EXPECT_EQ(j["origin"], 0);
    EXPECT_EQ(j["duration"], 40000000);
}

TEST_F(OpenTest, AlternativeTypesAndTheoraBlock) {
    Fixture f = MakeFile("theora", R"({"streams": [{"kind": "theora", "serial": 9, "width": 320, "height": 240,
        "fps_num": 25, "fps_den": 1, "seconds": 0.5}]})");
    OpenedSource s(f.path);
    ASSERT_EQ(s.hr, S_OK);
    PlatRef<IMFPresentationDescriptor> pd;
    s->CreatePresentationDescriptor(&pd);
    BOOL selected;
    PlatRef<IMFStreamDescriptor> sd;
    pd->GetStreamDescriptorByIndex(0, &selected, &sd);
    PlatRef<IMFMediaTypeHandler> h;
    sd->GetMediaTypeHandler(&h);
    PlatRef<IMFMediaType> native, alternative;
    ASSERT_EQ(h->GetMediaTypeByIndex(0, &native), S_OK);
    ASSERT_EQ(h->GetMediaTypeByIndex(1, &alternative), S_OK);
    AM_MEDIA_TYPE *a = nullptr, *b = nullptr;
    native->GetRepresentation(AM_MEDIA_TYPE_REPRESENTATION, reinterpret_cast<void**>(&a));
    alternative->GetRepresentation(AM_MEDIA_TYPE_REPRESENTATION, reinterpret_cast<void**>(&b));
    // Native: VIDEOINFOHEADER2 then the count and the three header packets with their lengths.
    const auto& headers = f.record.streams[0].headers;
    size_t total = headers[0].rawSize + headers[1].rawSize + headers[2].rawSize;
    ASSERT_EQ(a->cbFormat, 125 + total);
    std::vector<uint8_t> block(a->pbFormat, a->pbFormat + a->cbFormat);
    EXPECT_EQ(U32(block, 72), 53 + total);
    EXPECT_EQ(U32(block, 88), FOURCC_KTHE);
    EXPECT_EQ(block[112], 3);
    EXPECT_EQ(U32(block, 113), headers[0].rawSize);
    EXPECT_EQ(block[117], 0x80) << "the identification header follows its length";
    EXPECT_TRUE(IsEqualGUID(b->formattype, FORMAT_VideoInfo));
    ASSERT_EQ(b->cbFormat, a->cbFormat - 24);
    EXPECT_EQ(std::memcmp(b->pbFormat, a->pbFormat, 48), 0);
    EXPECT_EQ(std::memcmp(b->pbFormat + 48, a->pbFormat + 72, a->cbFormat - 72), 0);
    native->FreeRepresentation(AM_MEDIA_TYPE_REPRESENTATION, a);
    alternative->FreeRepresentation(AM_MEDIA_TYPE_REPRESENTATION, b);
}
