// UTF-8 to UTF-16 with Unicode's replacement of ill-formed input, the platform's wide text, and value limits.
#include <gtest/gtest.h>

#include "tag_packets.h"

using namespace tagtest;

namespace {
std::u16string Decode(const std::string& in) {
    std::u16string out(in.size() + 1, u'\0');
    size_t used = 0;
    const size_t n = tags::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out.data(),
                                       out.size(), &used);
    out.resize(n);
    return out;
}
} // namespace

TEST(Utf8, WellFormedTextOfEveryLength) {
    EXPECT_EQ(Decode("abc"), u"abc");
    EXPECT_EQ(Decode("Bj\xC3\xB6rk"), u"Björk");
    EXPECT_EQ(Decode("\xE6\x9D\xB1\xE4\xBA\xAC"), u"東京");
    EXPECT_EQ(Decode("\xF0\x9F\x8E\xB5"), u"\U0001F3B5") << "four bytes make a surrogate pair";
    EXPECT_EQ(Decode("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
    EXPECT_EQ(Decode("\xEF\xBF\xBD"), u"\uFFFD");
}

// Unicode's own example (chapter 3, "U+FFFD Substitution of Maximal Subparts") and the cases around it.
TEST(Utf8, EachMaximalIllFormedSubpartBecomesOneReplacement) {
    EXPECT_EQ(Decode("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
              u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd");
    EXPECT_EQ(Decode("\xC0\xAF"), u"\uFFFD\uFFFD") << "an overlong form: C0 starts nothing";
    EXPECT_EQ(Decode("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD") << "E0 needs A0..BF next";
    EXPECT_EQ(Decode("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD") << "a surrogate in UTF-8";
    EXPECT_EQ(Decode("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD") << "past U+10FFFF";
    EXPECT_EQ(Decode("\xF5\x80"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Decode("\xE2\x82"), u"\uFFFD") << "cut short by the end: one replacement";
    EXPECT_EQ(Decode("\xF0\x9F\x8E"), u"\uFFFD");
    EXPECT_EQ(Decode("\xE2\x82x"), u"\uFFFDx");
    EXPECT_EQ(Decode("\xFF\xFE"), u"\uFFFD\uFFFD");
}

TEST(Utf8, TextEndsAtItsFirstNul) {
    EXPECT_EQ(Decode(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(Decode(std::string("\xE2\x82\0x", 4)), u"\uFFFD");
}

TEST(Utf8, NeverWritesHalfASurrogatePairOrPastTheRoom) {
    const std::string in = "a\xF0\x9F\x8E\xB5";
    char16_t out[2] = {u'#', u'#'};
    size_t used = 0;
    EXPECT_EQ(tags::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out, 2, &used), 1u);
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(out[1], u'#');
}

TEST(WideText, ThePlatformsWideCharacters) {
    const std::u16string s = u"a\U0001F3B5\u00E9";
    const tags::TagText t{s.data(), s.size()};
    const size_t n = tags::WideUnits(t);
    std::wstring w(n + 1, L'#');
    tags::ToWide(t, w.data());
    EXPECT_EQ(w[n], L'\0');
    w.resize(n);
    if (sizeof(WCHAR) == 2) {
        EXPECT_EQ(n, 4u);
    } else {
        EXPECT_EQ(n, 3u) << "one wide character per code point";
        EXPECT_EQ(w, L"a\U0001F3B5\u00E9");
    }
    EXPECT_EQ(Utf8(t), "a\xF0\x9F\x8E\xB5\xC3\xA9");
    const char16_t lone[] = {u'x', 0xD800, u'y'};
    EXPECT_EQ(Utf8(tags::TagText{lone, 3}), "x\xEF\xBF\xBDy") << "a lone surrogate shows as U+FFFD";
}

TEST(ValueLimits, ValuesAreCutAtTheirLimitOnACharacterBoundary) {
    LoneStream t;
    std::string longValue(tags::kMaxValueUnits - 1, 'a');
    longValue += "\xF0\x9F\x8E\xB5tail"; // the pair would straddle the limit
    const std::string key(tags::kMaxKeyBytes, 'K');
    const Bytes p =
        VorbisComment(CommentBody("v", {"TITLE=" + longValue, key + "=fits", key + "K=too long"}));
    ASSERT_EQ(t.stream.TakeCommentPacket(tags::CommentLayout::Vorbis, p.data(), p.size()), S_OK);
    ASSERT_EQ(t.stream.FieldCount(), 2u);
    const tags::TagText v = t.stream.FieldValue(0);
    EXPECT_EQ(v.length, tags::kMaxValueUnits - 1) << "the pair that does not fit is left out whole";
    EXPECT_EQ(Utf8(t.stream.FieldKey(1)), key);
    EXPECT_EQ(t.stream.LeftOut(), 1u) << "the key beyond the limit";
}
