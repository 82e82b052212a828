// What Windows' FLAC and Opus decoders read on their input type, on files made by flac and opusenc: the
// channels, the sample rate, the bits per sample (FLAC), the largest block (FLAC) and the user data, compared
// with the headers in the file itself.
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "common/fixtures.h"
#include "encoded_files.h"
#include "oggsource.h"

namespace {
constexpr GUID kFlacMaxBlockSize = {
    0x8b81adae, 0x4b5a, 0x4d40, {0x80, 0x22, 0xf3, 0x8d, 0x09, 0xca, 0x3c, 0x5c}};

// The first packet of the file's first page whose body begins with `magic` (a stream's identification
// header).
std::string IdentificationPacket(const std::string& path, const std::string& magic) {
    std::ifstream in(path, std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t at = d.find("OggS"); at != std::string::npos && at + 27 <= d.size();
         at = d.find("OggS", at + 1)) {
        const size_t segments = static_cast<unsigned char>(d[at + 26]);
        size_t length = 0, i = 0;
        for (; i < segments; ++i) {
            length += static_cast<unsigned char>(d[at + 27 + i]);
            if (static_cast<unsigned char>(d[at + 27 + i]) < 255) break;
        }
        const size_t body = at + 27 + segments;
        if (d.compare(body, magic.size(), magic) == 0) return d.substr(body, length);
    }
    return "";
}

struct Type {
    UINT32 channels = 0, rate = 0, bits = 0, maxBlock = 0;
    bool hasBits = false, hasMaxBlock = false;
    GUID subtype = GUID_NULL;
    std::string userData;
};

Type TypeOf(const std::string& path) {
    Type t;
    OpenedSource s(path);
    EXPECT_EQ(s.hr, S_OK);
    if (FAILED(s.hr)) return t;
    PlatRef<IMFPresentationDescriptor> pd;
    PlatRef<IMFStreamDescriptor> sd;
    PlatRef<IMFMediaTypeHandler> handler;
    PlatRef<IMFMediaType> type;
    BOOL selected = FALSE;
    EXPECT_EQ(s->CreatePresentationDescriptor(&pd), S_OK);
    EXPECT_EQ(pd->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
    EXPECT_EQ(sd->GetMediaTypeHandler(&handler), S_OK);
    EXPECT_EQ(handler->GetCurrentMediaType(&type), S_OK);
    type->GetGUID(MF_MT_SUBTYPE, &t.subtype);
    type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &t.channels);
    type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &t.rate);
    t.hasBits = SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &t.bits));
    t.hasMaxBlock = SUCCEEDED(type->GetUINT32(kFlacMaxBlockSize, &t.maxBlock));
    UINT8* blob = nullptr;
    UINT32 size = 0;
    if (SUCCEEDED(type->GetAllocatedBlob(MF_MT_USER_DATA, &blob, &size))) {
        t.userData.assign(reinterpret_cast<char*>(blob), size);
        CoTaskMemFree(blob);
    }
    return t;
}

struct DecoderTypes : SourceTest {
    void SetUp() override {
        SourceTest::SetUp();
        std::string error;
        EncodedFiles(&error);
        ASSERT_EQ(error, "");
    }
};

// FLAC: the stream header in its shortest form ("fLaC" and STREAMINFO, marked as the last metadata block,
// though flac wrote a comment block after it), and the fields STREAMINFO states.
TEST_F(DecoderTypes, FlacCarriesItsStreamHeaderAndTheFieldsOfStreamInfo) {
    const struct {
        const char* file;
        UINT32 channels, rate, bits;
    } cases[] = {{"flac", 2, 44100, 16}, {"flac-24bit-96k", 1, 96000, 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string first = IdentificationPacket(FileNamed(c.file).path, "\x7F"
                                                                               "FLAC");
        ASSERT_EQ(first.size(), 51u);
        std::string header = first.substr(9); // "fLaC", the block header, STREAMINFO
        EXPECT_EQ(header[4] & 0x80, 0) << "flac wrote more metadata after STREAMINFO";
        header[4] = static_cast<char>(header[4] | 0x80);
        const Type t = TypeOf(FileNamed(c.file).path);
        EXPECT_EQ(t.subtype, MEDIASUBTYPE_OggFLAC);
        EXPECT_EQ(t.channels, c.channels);
        EXPECT_EQ(t.rate, c.rate);
        EXPECT_TRUE(t.hasBits);
        EXPECT_EQ(t.bits, c.bits);
        EXPECT_EQ(t.userData, header);
        EXPECT_TRUE(t.hasMaxBlock);
        EXPECT_EQ(t.maxBlock, static_cast<UINT32>(static_cast<unsigned char>(header[10]) << 8 |
                                                  static_cast<unsigned char>(header[11])));
        EXPECT_EQ(t.maxBlock, 4096u) << "flac's default block size";
    }
}

// Opus: the OpusHead packet whole (its channel mapping table too), the decoder's 48 kHz whatever the input
// rate the header states, and the channel count.
TEST_F(DecoderTypes, OpusCarriesItsOpusHeadWhole) {
    const struct {
        const char* file;
        UINT32 channels;
        size_t headSize;
    } cases[] = {{"opusenc", 2, 19}, {"opusenc-44k-mono", 1, 19}, {"opusenc-5.1", 6, 27}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string head = IdentificationPacket(FileNamed(c.file).path, "OpusHead");
        EXPECT_EQ(head.size(), c.headSize);
        const Type t = TypeOf(FileNamed(c.file).path);
        EXPECT_EQ(t.subtype, MEDIASUBTYPE_OggOpus);
        EXPECT_EQ(t.channels, c.channels);
        EXPECT_EQ(t.rate, 48000u);
        EXPECT_FALSE(t.hasBits) << "Opus has no bits per sample";
        EXPECT_FALSE(t.hasMaxBlock);
        EXPECT_EQ(t.userData, head);
    }
}
} // namespace
