// Proof by decoding: what the source hands out (media types and samples) decodes, with Xiph's libraries, to
// what the files' own readers decode (libvorbisfile, opusfile, libFLAC's Ogg decoder, ffmpeg for Theora and
// Speex): byte for byte from the start; after a seek, past the first key frame and the codec's pre-roll, a
// contiguous run of the full decode's packets or frames (Vorbis, Theora, FLAC) or, for the codecs whose
// decoders converge rather than match (Opus, Speex), the same sound within a stated tolerance.
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "common/fixtures.h"
#include "common/ogg_pages.h"
#include "decode_run.h"
#include "encoded_files.h"
#include "oracle.h"

namespace {
struct DecodeTest : SourceTest {
    static void SetUpTestSuite() {
        std::string error;
        EncodedFiles(&error);
        s_error = error;
    }
    void SetUp() override {
        SourceTest::SetUp();
        ASSERT_EQ(s_error, "");
    }
    static std::string s_error;
};
std::string DecodeTest::s_error;

Decoded Oracle(const EncodedFile& f, const std::string& codec) {
    if (codec == "vorbis") return VorbisOracle(f.path);
    if (codec == "opus") return OpusOracle(f.path);
    if (codec == "flac") return FlacOracle(f.path);
    if (codec == "speex") return SpeexOracle(f.path, f.channels);
    return TheoraOracle(f.path, f.width, f.height);
}

// Where two outputs first differ, in units (samples of every channel, or frames); -1 when they do not.
int64_t FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t unitBytes) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<int64_t>(i / unitBytes);
    return a.size() == b.size() ? -1 : static_cast<int64_t>(n / unitBytes);
}

// The comparison from the start: true when `oggsource decode` gives the oracle's output for every stream.
::testing::AssertionResult SameAsTheOracle(const EncodedFile& f, const std::string& options = "") {
    const DecodeRun run = Decode(f.path, options);
    if (run.status != 0) return ::testing::AssertionFailure() << "oggsource decode exits " << run.status;
    if (run.streams.empty()) return ::testing::AssertionFailure() << "no stream decoded";
    for (const auto& [id, s] : run.streams) {
        const Decoded oracle = Oracle(f, s.codec);
        if (!oracle.ok) return ::testing::AssertionFailure() << s.codec << " oracle: " << oracle.error;
        if (s.md5 != s.rawMd5)
            return ::testing::AssertionFailure()
                   << s.codec << ": the printed MD5 is not md5sum's " << s.rawMd5;
        if (s.count != oracle.count || s.raw != oracle.bytes)
            return ::testing::AssertionFailure()
                   << s.codec << " (" << s.format << "): " << s.count << " " << s.unit << " against "
                   << oracle.count << ", first difference at " << s.unit << " "
                   << FirstDifference(s.raw, oracle.bytes, oracle.unitBytes);
        // The output begins where the stream begins on the timeline: at 0, but for Speex, whose first packet
        // begins before 0 by the encoder's look-ahead (the source times it back from its granule, and ffmpeg
        // keeps it).
        if (s.any && (s.codec == "speex" ? s.first > 0 : s.first != 0))
            return ::testing::AssertionFailure() << s.codec << ": the output begins at " << s.first;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(DecodeTest, FromTheStartEveryStreamDecodesAsTheFilesOwnReaderDecodesIt) {
    for (const EncodedFile& f : EncodedFiles(nullptr)) {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(SameAsTheOracle(f));
    }
}

const double kTargets[] = {1.3, 2.6}; // seconds: every file lasts 3 s at least
// What a decoder needs before its output counts after a seek: 80 ms for Opus (RFC 7845); for Speex, whose
// decoder settles within 100 ms (measured: 35 dB at 100 ms, 47 to 71 dB at 200 ms), 200 ms.
constexpr double kOpusPreroll = 0.08, kSpeexPreroll = 0.2;
// Past the pre-roll, the output after a seek is within 30 dB of the full decode's (signal to difference;
// measured 47 to 66 dB for Opus, 47 to 71 dB for Speex); a packet lost or doubled shifts what follows and
// falls near 0 dB.
constexpr double kMinSnr = 30;

// The longest time between two consecutive pages of a stream (its granules counted at `rate`): how far before
// a target a source that starts from a page at or before it may begin.
double LongestPageSpan(const std::string& path, uint32_t serial, double rate) {
    int64_t last = 0, longest = 0;
    for (const PageRec& p : ReadPages(path)) {
        if (p.serial != serial || p.granule < 0) continue;
        longest = std::max(longest, p.granule - last);
        last = p.granule;
    }
    return static_cast<double>(longest) / rate;
}

// How far before the target a seek's output may begin: from the page before the one at or before the target
// (two page spans), less the pre-roll; never less than 2 s (a video key frame's distance). Further back is no
// seek.
double EarliestStart(const std::string& path, const DecodedStream& s, uint32_t serial, double rate,
                     double target, double preroll) {
    const double span =
        s.codec == "theora" ? 0 : LongestPageSpan(path, serial, rate); // Theora's granules are no times
    return target - preroll - std::max(2.0, 2 * span + 0.05);
}

// Per second of a stream's positions: its sample rate (which its format states), or its frame rate.
double UnitsPerSecond(const DecodedStream& s) {
    const size_t hz = s.format.find(" Hz");
    if (s.unit == "samples" && hz != std::string::npos)
        return std::stod(s.format.substr(s.format.rfind(' ', hz - 1) + 1));
    for (size_t i = 1; i < s.units.size(); ++i)
        if (s.units[i].time != s.units[i - 1].time)
            return 1e7 * static_cast<double>(s.units[i].position - s.units[i - 1].position) /
                   static_cast<double>(s.units[i].time - s.units[i - 1].time);
    return 0;
}

// After a seek to `target` seconds, the packets or frames the decoder gave, past those that gave nothing
// (Vorbis's first packet after a restart; Theora's frames before the first key frame are not decoded at all),
// are the full decode's packets or frames of the same times, each with the same output, one after the other
// to the end; the first of them covers the target, and begins no earlier than `earliest` (a play from the
// start is no seek).
::testing::AssertionResult ContiguousRunOfTheFullDecode(const DecodedStream& full, const DecodedStream& seek,
                                                        double target, double earliest) {
    size_t from = 0;
    while (from < seek.units.size() && seek.units[from].count == 0)
        ++from;
    if (from == seek.units.size()) return ::testing::AssertionFailure() << "nothing decoded after the seek";
    const DecodedUnit& first = seek.units[from];
    size_t at = 0;
    while (at < full.units.size() && full.units[at].time != first.time)
        ++at;
    if (at == full.units.size())
        return ::testing::AssertionFailure()
               << "the first unit after the seek (time " << first.time << ") is no unit of the full decode";
    const size_t n = seek.units.size() - from;
    if (full.units.size() - at != n)
        return ::testing::AssertionFailure() << n << " units after the seek, " << full.units.size() - at
                                             << " in the full decode from there";
    for (size_t i = 0; i < n; ++i) {
        const DecodedUnit &a = seek.units[from + i], &b = full.units[at + i];
        if (a.time != b.time || a.position != b.position || a.count != b.count || a.md5 != b.md5)
            return ::testing::AssertionFailure()
                   << "unit " << i << " after the seek (time " << a.time << ", position " << a.position
                   << ", " << a.count << " " << seek.unit << ") differs from the full decode's (time "
                   << b.time << ", position " << b.position << ", " << b.count << ")";
    }
    const double perSecond = UnitsPerSecond(full);
    const double begins = static_cast<double>(first.position) / perSecond;
    if (begins > target + 1e-9 || begins < earliest)
        return ::testing::AssertionFailure() << "the decoded run begins at " << begins << " s for a seek to "
                                             << target << " s (at the earliest " << earliest << " s)";
    return ::testing::AssertionSuccess();
}

// The samples of an output as numbers (32-bit floats, or 16-bit integers scaled to the same range).
std::vector<double> Samples(const DecodedStream& s) {
    std::vector<double> v;
    if (s.format.rfind("f32le", 0) == 0) {
        v.resize(s.raw.size() / 4);
        for (size_t i = 0; i < v.size(); ++i) {
            float x;
            std::memcpy(&x, s.raw.data() + 4 * i, 4);
            v[i] = x;
        }
    } else {
        v.resize(s.raw.size() / 2);
        for (size_t i = 0; i < v.size(); ++i) {
            int16_t x;
            std::memcpy(&x, s.raw.data() + 2 * i, 2);
            v[i] = x / 32768.0;
        }
    }
    return v;
}

int Channels(const DecodedStream& s) {
    return std::stoi(s.format.substr(s.format.find(", ") + 2));
}

// After a seek, the output past the codec's pre-roll (`preroll` samples after its first one) against the full
// decode at the same positions: it must reach the same end, cover the target, begin no earlier than
// `earliest`, and agree within `minSnr` dB (signal to difference, over every channel of the compared
// samples).
::testing::AssertionResult ConvergesOnTheFullDecode(const DecodedStream& full, const DecodedStream& seek,
                                                    double target, int64_t preroll, double earliest,
                                                    double minSnr) {
    const int channels = Channels(full);
    const double rate = UnitsPerSecond(full);
    const std::vector<double> a = Samples(full), b = Samples(seek);
    const int64_t fullEnd = full.first + static_cast<int64_t>(a.size()) / channels;
    const int64_t seekEnd = seek.first + static_cast<int64_t>(b.size()) / channels;
    if (!seek.any || seekEnd != fullEnd)
        return ::testing::AssertionFailure()
               << "the output after the seek ends at " << seekEnd << ", the full one at " << fullEnd;
    const int64_t from = seek.first + preroll;
    const double begins = static_cast<double>(seek.first) / rate;
    if (static_cast<double>(from) / rate > target + 1e-9 || begins < earliest)
        return ::testing::AssertionFailure()
               << "the output after the seek begins at " << begins << " s (" << preroll
               << " samples of pre-roll) for a seek to " << target << " s";
    double signal = 0, noise = 0;
    for (int64_t p = from; p < fullEnd; ++p)
        for (int c = 0; c < channels; ++c) {
            const double x = a[static_cast<size_t>((p - full.first) * channels + c)],
                         y = b[static_cast<size_t>((p - seek.first) * channels + c)];
            signal += x * x;
            noise += (x - y) * (x - y);
        }
    const double snr = noise > 0 ? 10 * std::log10(signal / noise) : 999;
    if (snr < minSnr)
        return ::testing::AssertionFailure()
               << "the output after the seek is " << snr << " dB from the full decode's";
    return ::testing::AssertionSuccess();
}

// The comparison after a seek to `target`, the seek's decode run with `options`: exact codecs give a run of
// the full decode, Opus and Speex converge on it.
::testing::AssertionResult SeekMatches(const EncodedFile& f, double target, const std::string& options = "") {
    const DecodeRun full = Decode(f.path);
    const DecodeRun seek = Decode(f.path, "--start " + std::to_string(target) + " " + options);
    if (full.status != 0 || seek.status != 0)
        return ::testing::AssertionFailure()
               << "oggsource decode exits " << full.status << " (full), " << seek.status << " (seek)";
    for (const auto& [id, s] : full.streams) {
        if (!seek.streams.count(id))
            return ::testing::AssertionFailure() << s.codec << ": not decoded after the seek";
        const double rate = UnitsPerSecond(s);
        const bool converges = s.codec == "opus" || s.codec == "speex";
        const double preroll = s.codec == "opus" ? kOpusPreroll : s.codec == "speex" ? kSpeexPreroll : 0;
        const double earliest = EarliestStart(f.path, s, id, rate, target, preroll);
        const ::testing::AssertionResult r =
            converges ? ConvergesOnTheFullDecode(s, seek.streams.at(id), target, std::llround(preroll * rate),
                                                 earliest, kMinSnr)
                      : ContiguousRunOfTheFullDecode(s, seek.streams.at(id), target, earliest);
        if (!r) return ::testing::AssertionFailure() << s.codec << ": " << r.message();
    }
    return ::testing::AssertionSuccess();
}

TEST_F(DecodeTest, AfterASeekEveryStreamGivesTheFullDecodesOutput) {
    for (const EncodedFile& f : EncodedFiles(nullptr)) {
        SCOPED_TRACE(f.name);
        for (double target : kTargets)
            EXPECT_TRUE(SeekMatches(f, target)) << "seek to " << target << " s";
    }
}

// The comparisons catch a source that hands out something wrong: each fault the decode verb can simulate
// makes them fail, on a file of each codec it applies to.
TEST_F(DecodeTest, WhatTheSourceHandsOutWronglyMakesTheComparisonFail) {
    for (const char* name : {"oggenc", "ffmpeg-theora", "opusenc", "flac", "speexenc-wideband-stereo"}) {
        SCOPED_TRACE(name);
        const EncodedFile& f = FileNamed(name);
        ASSERT_TRUE(SameAsTheOracle(f)) << "the file must pass without a fault first";
        for (const char* fault : {"user-data", "drop", "double"})
            EXPECT_FALSE(SameAsTheOracle(f, std::string("--fault ") + fault)) << fault << " from the start";
    }
    // After a seek: a lost or doubled packet breaks the run of an exact codec and the convergence of the
    // others.
    for (const char* name : {"oggenc", "ffmpeg-theora", "flac", "opusenc", "speexenc-wideband-stereo"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(SeekMatches(FileNamed(name), 2.6));
        EXPECT_FALSE(SeekMatches(FileNamed(name), 2.6, "--fault drop")) << "drop after a seek";
        EXPECT_FALSE(SeekMatches(FileNamed(name), 2.6, "--fault double")) << "double after a seek";
    }
    // Vorbis's headers are samples of every run: without them after a seek nothing decodes.
    EXPECT_FALSE(SeekMatches(FileNamed("oggenc"), 2.6, "--fault no-headers"));
    // Opus's pre-skip (from the OpusHead) and every trimmed codec's end (from the stream's end time).
    EXPECT_FALSE(SameAsTheOracle(FileNamed("opusenc"), "--fault pre-skip"));
    for (const char* name : {"opusenc", "oggenc", "flac"})
        EXPECT_FALSE(SameAsTheOracle(FileNamed(name), "--fault end-trim")) << name;
}
} // namespace
