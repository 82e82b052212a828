// Comment headers whose lengths and counts lie: no crash, no allocation the file chose, the good fields
// before the damage kept; and the limits on what one header and one presentation may hold.
#include <gtest/gtest.h>
#include <malloc.h>

#include "tag_packets.h"

using namespace tagtest;
using tags::CommentLayout;

namespace {
HRESULT Take(tags::CStreamTags* s, const Bytes& p) {
    return s->TakeCommentPacket(CommentLayout::Vorbis, p.data(), p.size());
}

// Bytes the C heap holds now (the allocations of the model included).
size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// The body of a header, with one 32-bit length overwritten at `at` (an offset into the body).
Bytes Patched(Bytes body, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        body[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return body;
}
} // namespace

TEST(HostileHeaders, AVendorLengthPastThePacket) {
    for (uint32_t length : {7u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        LoneStream t;
        const Bytes body = Patched(CommentBody("vendor", {"TITLE=x"}), 0, length);
        EXPECT_EQ(Take(&t.stream, VorbisComment(body)), MF_E_INVALID_FILE_FORMAT) << length;
        EXPECT_EQ(t.stream.FieldCount(), 0u);
        EXPECT_TRUE(t.stream.HasComments()) << "the header was the stream's comment header, damaged";
    }
    LoneStream exact; // a vendor that ends exactly where the packet does: no count follows
    EXPECT_EQ(
        exact.stream.TakeCommentPacket(CommentLayout::Speex, Bytes{3, 0, 0, 0, 'a', 'b', 'c'}.data(), 7),
        MF_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(Utf8(exact.stream.Vendor()), "abc");
}

TEST(HostileHeaders, ACountOfTwoToThe32MinusOneReservesNothing) {
    const Bytes body = CommentBody("v", {"TITLE=kept", "ARTIST=also kept"}, 0xFFFFFFFFll);
    const size_t before = HeapInUse();
    PlatFailAllocation(1000000000L, 0); // counts the allocations, refuses none
    LoneStream t;
    EXPECT_EQ(Take(&t.stream, VorbisComment(body)), MF_E_INVALID_FILE_FORMAT) << "the comments run out";
    const long allocations = PlatAllocationsCounted();
    PlatFailAllocation(-1, 0);
    EXPECT_EQ(Fields(t.stream), (std::vector<std::string>{"TITLE=kept", "ARTIST=also kept"}));
    EXPECT_LE(allocations, 4) << "storage grows with what is there, not with the count";
    EXPECT_LT(HeapInUse() - before, 4096u) << "a few hundred bytes for two fields";
}

TEST(HostileHeaders, ACommentRunningPastThePacketKeepsTheOnesBefore) {
    Bytes body = CommentBody("v", {"TITLE=one", "ARTIST=two", "ALBUM=three"});
    const size_t thirdLength = body.size() - std::string("ALBUM=three").size() - 4;
    for (uint32_t length : {12u, 0x10000u, 0xFFFFFFFFu}) {
        LoneStream t;
        EXPECT_EQ(Take(&t.stream, VorbisComment(Patched(body, thirdLength, length))),
                  length == 12u ? S_OK : MF_E_INVALID_FILE_FORMAT)
            << length;
        if (length == 12u) continue; // 11 bytes and the framing byte: the field takes the framing byte along
        EXPECT_EQ(Fields(t.stream), (std::vector<std::string>{"TITLE=one", "ARTIST=two"}));
    }
    LoneStream cut; // the packet ends inside a length
    Bytes shortBody(body.begin(), body.begin() + static_cast<long>(thirdLength) + 2);
    EXPECT_EQ(cut.stream.TakeCommentPacket(CommentLayout::Speex, shortBody.data(), shortBody.size()),
              MF_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(cut.stream.FieldCount(), 2u);
}

TEST(HostileHeaders, FieldsWithoutAnEqualsSignOrAKeyAreLeftOut) {
    LoneStream t;
    const Bytes p =
        VorbisComment(CommentBody("v", {"NOEQUALS", "=no key", "", "TITLE=a=b", "ARTIST=", "=",
                                        std::string("\0KEY=v", 6), "G=x"}));
    EXPECT_EQ(Take(&t.stream, p), S_OK);
    EXPECT_EQ(Fields(t.stream), (std::vector<std::string>{"TITLE=a=b", "ARTIST=", "G=x"}))
        << "the value runs from the first '='";
    EXPECT_EQ(t.stream.LeftOut(), 5u) << "a key that begins with U+0000 is empty as well";
    EXPECT_EQ(Values(t.stream, tags::TagProperty::Title), std::vector<std::string>{"a=b"});
}

TEST(HostileHeaders, FlacBlockLengthsThatLie) {
    const Bytes body = CommentBody("v", {"TITLE=t", "ARTIST=a"});
    LoneStream longer; // the block says more than the packet holds: read what is there, report the damage
    Bytes block = FlacBlock(4, body, false, 0xFFFFFF);
    EXPECT_EQ(longer.stream.TakeFlacMetadataBlock(block.data(), block.size()), MF_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(Fields(longer.stream), (std::vector<std::string>{"TITLE=t", "ARTIST=a"}));

    LoneStream shorter; // the block says less: what lies past it is no part of the block
    block = FlacBlock(4, body, false, static_cast<int64_t>(body.size() - 8));
    EXPECT_EQ(shorter.stream.TakeFlacMetadataBlock(block.data(), block.size()), MF_E_INVALID_FILE_FORMAT);
    EXPECT_EQ(Fields(shorter.stream), std::vector<std::string>{"TITLE=t"});
}

TEST(HeaderLimits, TextBeyondTheHeadersLimitIsLeftOutButPicturesAreNot) {
    const std::string value(60000, 'v');
    std::vector<std::string> comments;
    for (int i = 0; i < 20; ++i)
        comments.push_back("COMMENT=" + value); // 1.2 M units: more than one header holds
    PictureSpec pic;
    pic.data = Pattern(100);
    comments.push_back("METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(pic)));
    comments.push_back("TITLE=late");
    LoneStream t;
    EXPECT_EQ(Take(&t.stream, VorbisComment(CommentBody("v", comments))), S_OK);
    const size_t kept = tags::kMaxHeaderTextUnits / (60000 + 7);
    EXPECT_EQ(t.stream.FieldCount(), kept);
    EXPECT_EQ(t.stream.PictureCount(), 1u);
    EXPECT_EQ(t.stream.ValueCount(tags::TagProperty::Title), 0u) << "no text after the header's text ran out";
    EXPECT_EQ(t.stream.LeftOut(), 20 - kept + 1);
}

TEST(HeaderLimits, AtMostSoManyFieldsPerHeader) {
    std::vector<std::string> comments(tags::kMaxHeaderFields + 50, "K=v");
    LoneStream t;
    EXPECT_EQ(Take(&t.stream, VorbisComment(CommentBody("v", comments))), S_OK);
    EXPECT_EQ(t.stream.FieldCount(), tags::kMaxHeaderFields);
    EXPECT_EQ(t.stream.LeftOut(), 50u);
}

TEST(HeaderLimits, APresentationsTextIsBounded) {
    const std::string value(60000, 'w');
    std::vector<std::string> comments(16, "DESCRIPTION=" + value); // 0.96 M units a header
    const Bytes p = VorbisComment(CommentBody("v", comments));
    tags::CPresentationTags presentation;
    size_t units = 0;
    for (uint32_t serial = 1; serial <= 6; ++serial) {
        tags::CStreamTags* s = nullptr;
        ASSERT_EQ(presentation.AddStream(serial, &s), S_OK);
        EXPECT_EQ(Take(s, p), S_OK);
        for (size_t i = 0; i < s->FieldCount(); ++i)
            units += s->FieldKey(i).length + s->FieldValue(i).length;
    }
    EXPECT_LE(units, tags::kMaxPresentationTextUnits);
    EXPECT_GT(units, tags::kMaxPresentationTextUnits - 60012) << "everything up to the limit is kept";
    EXPECT_EQ(presentation.StreamAt(5)->FieldCount(), 0u);
}

// Every allocation of the model refused in turn: the result is an error or success, never a crash or a leak,
// and the fields kept are always the first ones of the file.
TEST(HostileHeaders, RefusedAllocationsKeepAPrefix) {
    PictureSpec pic;
    pic.data = Pattern(300);
    const std::vector<std::string> all = {"TITLE=one", "ARTIST=two", "ARTIST=three",
                                          "METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(pic)),
                                          "GENRE=four"};
    const Bytes p = VorbisComment(CommentBody("vendor", all));
    const Bytes flacPicture = FlacBlock(6, FlacPictureBody(pic));
    for (long index = 0; index < 40; ++index) {
        PlatFailAllocation(index, 1);
        auto* presentation = new tags::CPresentationTags;
        tags::CStreamTags* s = nullptr;
        HRESULT hr = presentation ? presentation->AddStream(1, &s) : E_OUTOFMEMORY;
        HRESULT took = S_OK, picture = S_OK;
        if (SUCCEEDED(hr)) took = Take(s, p);
        if (SUCCEEDED(hr)) picture = s->TakeFlacMetadataBlock(flacPicture.data(), flacPicture.size());
        PlatFailAllocation(-1, 0);
        EXPECT_TRUE(took == S_OK || took == E_OUTOFMEMORY) << index;
        EXPECT_TRUE(picture == S_OK || picture == E_OUTOFMEMORY) << index;
        if (s) {
            const std::vector<std::string> kept = Fields(*s);
            std::vector<std::string> text{all[0], all[1], all[2], all[4]};
            ASSERT_LE(kept.size(), text.size());
            EXPECT_TRUE(std::equal(kept.begin(), kept.end(), text.begin())) << index;
            for (size_t i = 0; i < s->PictureCount(); ++i)
                EXPECT_EQ(Bytes(s->Picture(i).data, s->Picture(i).data + s->Picture(i).size), pic.data);
        }
        delete presentation;
        if (took == S_OK && picture == S_OK && hr == S_OK) break; // past the last allocation
    }
}
