// Files made at test time by the encoders, read by the model, compared with the raw comment lists the tools
// print (vorbiscomment, opusinfo, metaflac, ogginfo, ogminfo) and with what was put in; covers equal to the
// image files given to the encoders.
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "common/shell.h"
#include "ogg_headers.h"

using namespace tagtest;
using tags::TagProperty;

namespace {
class EncoderTags : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/oggsource-tags-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        // A second of stereo and of mono wideband sound, a small cover and a cover of about a megabyte.
        ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i sine=f=440:d=1 -ac 2 " + Path("in.wav")), 0);
        ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i sine=f=440:d=1 -ar 16000 -ac 1 " + Path("in16.wav")),
                  0);
        ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i color=red:s=32x24 -frames:v 1 " + Path("cover.png")),
                  0);
    }
    void TearDown() override { std::system(("rm -rf " + Quote(m_dir)).c_str()); }

    std::string Path(const std::string& name) const { return Quote(m_dir + "/" + name); }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    static int Run(const std::string& command) { return RunShell(command + " >/dev/null 2>&1").status; }
    // A tool's output in the UTF-8 locale (the tools convert comments to the locale's character set).
    static std::string Output(const std::string& command) {
        ShellOutput o = RunShell("LC_ALL=C.UTF-8 " + command + " 2>/dev/null");
        EXPECT_EQ(o.status, 0) << command;
        return o.text;
    }
    Bytes Contents(const std::string& name) const {
        std::ifstream in(File(name), std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void Read(const std::string& name, tags::CPresentationTags* p) const {
        FeedPresentation(ReadFirstPackets(File(name)), p);
    }

    std::string m_dir;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The comments a tool lists, without the pictures (the model keeps them apart, and tools abbreviate them).
std::vector<std::string> WithoutPictures(const std::vector<std::string>& comments) {
    std::vector<std::string> kept;
    for (const std::string& c : comments)
        if (strncasecmp(c.c_str(), "METADATA_BLOCK_PICTURE=", 23) != 0) kept.push_back(c);
    return kept;
}

// The tab-indented lines after each "User comments section follows..." of ogginfo or opusinfo, by serial
// number (the stream numbers of "New logical stream (#N, serial: X)" and "headers parsed for stream N").
std::map<uint32_t, std::vector<std::string>> InfoComments(const std::string& text) {
    std::map<int, uint32_t> serials;
    std::map<uint32_t, std::vector<std::string>> comments;
    int current = 0;
    bool collecting = false;
    for (const std::string& line : Lines(text)) {
        int n = 0;
        unsigned serial = 0;
        if (std::sscanf(line.c_str(), "New logical stream (#%d, serial: %x)", &n, &serial) == 2) {
            serials[n] = serial;
            current = n;
        } else if (line.find("headers parsed for stream ") != std::string::npos) {
            current = std::atoi(line.c_str() + line.find("stream ") + 7);
        }
        if (line == "User comments section follows...") {
            collecting = true;
            comments[serials[current]]; // a stream with no comments has an empty list
            continue;
        }
        if (collecting && !line.empty() && line[0] == '\t')
            comments[serials[current]].push_back(line.substr(1));
        else
            collecting = false;
    }
    return comments;
}

std::vector<std::string> Expected(std::initializer_list<std::string> values) {
    return values;
}
} // namespace

TEST_F(EncoderTags, OggencAndVorbiscomment) {
    PictureSpec cover;
    cover.description = "Hülle";
    cover.data = Contents("cover.png");
    const std::string picture = "METADATA_BLOCK_PICTURE=" + Base64(FlacPictureBody(cover));
    ASSERT_EQ(Run("oggenc -Q -t 'Tïtle ✓ 東京 🎵' -a 'Ärtist' -l 'Album' -G 'Rock' -N 03/12 -d 2021-05-01 -c "
                  "'ARTIST=Second artist' -c 'COMMENT=a=b' -c LANGUAGE=fr -c " +
                  Quote(picture) + " -o " + Path("v.ogg") + " " + Path("in.wav")),
              0);
    tags::CPresentationTags p;
    Read("v.ogg", &p);
    ASSERT_EQ(p.StreamCount(), 1u);
    const std::vector<std::string> listed = Lines(Output("vorbiscomment -l -R " + Path("v.ogg")));
    EXPECT_EQ(Fields(*p.StreamAt(0)), WithoutPictures(listed));
    EXPECT_EQ(listed.size(), WithoutPictures(listed).size() + 1);

    EXPECT_EQ(Values(p, TagProperty::Title), Expected({"Tïtle ✓ 東京 🎵"}));
    EXPECT_EQ(Values(p, TagProperty::Artist), Expected({"Second artist", "Ärtist"}))
        << "oggenc writes -c first";
    EXPECT_EQ(Values(p, TagProperty::Album), Expected({"Album"}));
    EXPECT_EQ(Values(p, TagProperty::Genre), Expected({"Rock"}));
    EXPECT_EQ(Values(p, TagProperty::Comment), Expected({"a=b"}));
    EXPECT_EQ(Utf8(p.StreamLanguage(0)), "fr");
    uint32_t n = 0;
    ASSERT_TRUE(p.Year(&n));
    EXPECT_EQ(n, 2021u);
    ASSERT_TRUE(p.TrackNumber(&n));
    EXPECT_EQ(n, 3u);
    ASSERT_TRUE(p.TrackTotal(&n));
    EXPECT_EQ(n, 12u);
    tags::TagPicture c;
    ASSERT_TRUE(p.Cover(&c));
    EXPECT_EQ(Bytes(c.data, c.data + c.size), cover.data);
    EXPECT_EQ(Utf8(c.mime), "image/png");
    EXPECT_EQ(Utf8(c.description), "Hülle");
}

// A cover of a megabyte: the comment header spans many pages ahead of the setup header.
TEST_F(EncoderTags, AMegabyteCoverAddedByVorbiscomment) {
    ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i "
                  "'nullsrc=s=800x600,geq=random(1)*255:random(1)*255:random(1)*255' "
                  "-frames:v 1 " +
                  Path("big.png")),
              0);
    PictureSpec cover;
    cover.data = Contents("big.png");
    ASSERT_GT(cover.data.size(), 1000000u);
    {
        std::ofstream comments(File("comments.txt"), std::ios::binary);
        comments << "TITLE=Big\nMETADATA_BLOCK_PICTURE=" << Base64(FlacPictureBody(cover))
                 << "\nARTIST=After\n";
    }
    ASSERT_EQ(Run("oggenc -Q -o " + Path("plain.ogg") + " " + Path("in.wav")), 0);
    ASSERT_EQ(Run("vorbiscomment -w -R -c " + Path("comments.txt") + " " + Path("plain.ogg") + " " +
                  Path("big.ogg")),
              0);
    tags::CPresentationTags p;
    Read("big.ogg", &p);
    ASSERT_EQ(p.StreamCount(), 1u);
    EXPECT_EQ(Fields(*p.StreamAt(0)),
              WithoutPictures(Lines(Output("vorbiscomment -l -R " + Path("big.ogg")))));
    EXPECT_EQ(Values(p, TagProperty::Artist), Expected({"After"}));
    tags::TagPicture c;
    ASSERT_TRUE(p.Cover(&c));
    EXPECT_EQ(Bytes(c.data, c.data + c.size), cover.data);
}

TEST_F(EncoderTags, OpusencWithAPicture) {
    ASSERT_EQ(Run("opusenc --quiet --title 'Opus títle' --artist A1 --artist 'A2 ✓' --album Al --genre G "
                  "--date 1999 "
                  "--tracknumber 7 --comment LANGUAGE=de --comment 'ALBUMARTIST=Various' --picture " +
                  Path("cover.png") + " " + Path("in.wav") + " " + Path("o.opus")),
              0);
    tags::CPresentationTags p;
    Read("o.opus", &p);
    ASSERT_EQ(p.StreamCount(), 1u);
    const auto listed = InfoComments(Output("opusinfo " + Path("o.opus")));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(Fields(*p.StreamAt(0)), WithoutPictures(listed.at(p.StreamAt(0)->Serial())));
    EXPECT_EQ(Values(p, TagProperty::Title), Expected({"Opus títle"}));
    EXPECT_EQ(Values(p, TagProperty::Artist), Expected({"A1", "A2 ✓"}));
    EXPECT_EQ(Values(p, TagProperty::AlbumArtist), Expected({"Various"}));
    EXPECT_EQ(Utf8(p.StreamLanguage(0)), "de");
    uint32_t n = 0;
    ASSERT_TRUE(p.TrackNumber(&n));
    EXPECT_EQ(n, 7u);
    EXPECT_FALSE(p.TrackTotal(&n));
    tags::TagPicture c;
    ASSERT_TRUE(p.Cover(&c));
    EXPECT_EQ(c.type, 3u);
    EXPECT_EQ(c.width, 32u);
    EXPECT_EQ(c.height, 24u);
    EXPECT_EQ(Bytes(c.data, c.data + c.size), Contents("cover.png"));
}

TEST_F(EncoderTags, FlacInOggAndItsNativeTwin) {
    const std::string options = "-s -f -T 'TITLE=Flac títle' -T ARTIST=X -T ARTIST=Y -T 'GENRE=Ambient' -T "
                                "TRACKNUMBER=4 -T TRACKTOTAL=10 -T DATE=1987 --picture='3||Front|0x0x0/0|" +
                                File("cover.png") + "' ";
    ASSERT_EQ(Run("flac --ogg " + options + "-o " + Path("f.oga") + " " + Path("in.wav")), 0);
    ASSERT_EQ(Run("flac " + options + "-o " + Path("f.flac") + " " + Path("in.wav")), 0);
    tags::CPresentationTags p;
    Read("f.oga", &p);
    ASSERT_EQ(p.StreamCount(), 1u);
    const tags::CStreamTags& s = *p.StreamAt(0);
    EXPECT_EQ(Fields(s), Lines(Output("metaflac --export-tags-to=- " + Path("f.flac"))));
    EXPECT_EQ(Fields(s), InfoComments(Output("ogginfo " + Path("f.oga"))).at(s.Serial()));
    EXPECT_EQ(Values(p, TagProperty::Artist), Expected({"X", "Y"}));
    uint32_t n = 0;
    ASSERT_TRUE(p.TrackTotal(&n));
    EXPECT_EQ(n, 10u);
    ASSERT_TRUE(p.Year(&n));
    EXPECT_EQ(n, 1987u);
    ASSERT_EQ(s.PictureCount(), 1u);
    ASSERT_EQ(Run("metaflac --export-picture-to=" + Path("exported.png") + " " + Path("f.flac")), 0);
    tags::TagPicture c;
    ASSERT_TRUE(p.Cover(&c));
    EXPECT_EQ(Bytes(c.data, c.data + c.size), Contents("exported.png"));
    EXPECT_EQ(Bytes(c.data, c.data + c.size), Contents("cover.png"));
    EXPECT_EQ(Utf8(c.description), "Front");
}

TEST_F(EncoderTags, FfmpegFlacInOgg) {
    ASSERT_EQ(Run("ffmpeg -v error -y -i " + Path("in.wav") +
                  " -c:a flac -metadata title='FF flac' -metadata "
                  "artist=Someone -metadata album_artist=Band " +
                  Path("ff.oga")),
              0);
    tags::CPresentationTags p;
    Read("ff.oga", &p);
    ASSERT_EQ(p.StreamCount(), 1u);
    EXPECT_EQ(Fields(*p.StreamAt(0)),
              InfoComments(Output("ogginfo " + Path("ff.oga"))).at(p.StreamAt(0)->Serial()));
    EXPECT_EQ(Values(p, TagProperty::Title), Expected({"FF flac"}));
    EXPECT_EQ(Values(p, TagProperty::AlbumArtist), Expected({"Band"}));
}

TEST_F(EncoderTags, SpeexencAndItsAuthor) {
    ASSERT_EQ(Run("speexenc --title 'Spx ✓' --author Speaker --comment GENRE=Speech --comment LANGUAGE=en " +
                  Path("in16.wav") + " " + Path("s.spx")),
              0);
    tags::CPresentationTags p;
    Read("s.spx", &p);
    ASSERT_EQ(p.StreamCount(), 1u);
    EXPECT_EQ(Fields(*p.StreamAt(0)),
              InfoComments(Output("ogginfo " + Path("s.spx"))).at(p.StreamAt(0)->Serial()));
    EXPECT_EQ(Values(p, TagProperty::Title), Expected({"Spx ✓"}));
    EXPECT_EQ(Values(p, TagProperty::Artist), Expected({"Speaker"}))
        << "speexenc's author, for want of an artist";
    EXPECT_EQ(Utf8(p.StreamLanguage(0)), "en");
    EXPECT_EQ(Utf8(p.StreamAt(0)->Vendor()).rfind("Encoded with Speex", 0), 0u);
}

// ffmpeg writes the file's tags into every stream's header and a stream's own (language, title) into its own.
TEST_F(EncoderTags, FfmpegStreamsWithLanguagesAndNames) {
    ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i testsrc=s=64x48:d=1 -f lavfi -i sine=d=1 -f lavfi -i "
                  "sine=f=880:d=1 "
                  "-map 0 -map 1 -map 2 -c:v libtheora -c:a libvorbis -metadata title='Glob T' -metadata "
                  "artist=Art "
                  "-metadata album_artist=AA -metadata track=4/9 -metadata date=2003 -metadata comment=cmt "
                  "-metadata composer=Comp -metadata genre=Gen -metadata:s:a:0 language=eng "
                  "-metadata:s:a:1 language=fra -metadata:s:a:1 title=Commentary " +
                  Path("ff.ogv")),
              0);
    tags::CPresentationTags p;
    Read("ff.ogv", &p);
    ASSERT_EQ(p.StreamCount(), 3u);
    const auto listed = InfoComments(Output("ogginfo " + Path("ff.ogv")));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(Fields(*p.StreamAt(i)), listed.at(p.StreamAt(i)->Serial())) << i;
    EXPECT_EQ(Values(p, TagProperty::Title), Expected({"Glob T"}));
    EXPECT_EQ(Values(p, TagProperty::Artist), Expected({"Art"}));
    EXPECT_EQ(Values(p, TagProperty::AlbumArtist), Expected({"AA"}));
    EXPECT_EQ(Values(p, TagProperty::Composer), Expected({"Comp"}));
    EXPECT_EQ(Values(p, TagProperty::Comment), Expected({"cmt"})) << "ffmpeg's comment is DESCRIPTION";
    uint32_t n = 0;
    ASSERT_TRUE(p.TrackNumber(&n));
    EXPECT_EQ(n, 4u);
    ASSERT_TRUE(p.TrackTotal(&n));
    EXPECT_EQ(n, 9u);
    EXPECT_TRUE(p.StreamLanguage(0).Empty()); // the video stream
    EXPECT_EQ(Utf8(p.StreamLanguage(1)), "eng");
    EXPECT_EQ(Utf8(p.StreamLanguage(2)), "fra");
    EXPECT_TRUE(p.StreamName(0).Empty());
    EXPECT_TRUE(p.StreamName(1).Empty());
    EXPECT_EQ(Utf8(p.StreamName(2)), "Commentary");
}

// OGM streams (video and text kinds) carry a Vorbis comment header; ogmmerge numbers its streams from 0.
TEST_F(EncoderTags, OgmmergeStreams) {
    ASSERT_EQ(Run("ffmpeg -v error -y -f lavfi -i testsrc=s=64x48:d=1 -c:v mpeg4 -f avi " + Path("v.avi")),
              0);
    {
        std::ofstream srt(File("s.srt"));
        srt << "1\n00:00:00,000 --> 00:00:01,000\nHello\n";
    }
    ASSERT_EQ(Run("ogmmerge -o " + Path("m.ogm") + " -c 'TITLE=Film#LANGUAGE=none' " + Path("v.avi") +
                  " -c 'LANGUAGE=German#TITLE=Untertitel ✓' " + Path("s.srt")),
              0);
    tags::CPresentationTags p;
    Read("m.ogm", &p);
    ASSERT_EQ(p.StreamCount(), 2u);
    EXPECT_EQ(p.StreamAt(0)->Serial(), 0u);
    // ogminfo: "(vN/serial S)" names a stream, "vN:   KEY=value" lists its comments.
    std::map<std::string, uint32_t> serials;
    std::map<uint32_t, std::vector<std::string>> listed;
    for (const std::string& line : Lines(Output("ogminfo -v " + Path("m.ogm")))) {
        char label[16];
        unsigned serial = 0;
        if (std::sscanf(line.c_str(), "(ogminfo.c) (%15[^/]/serial %u)", label, &serial) == 2)
            serials[label] = serial;
        const size_t colon = line.find(":   ");
        if (line.rfind("(ogminfo.c) ", 0) == 0 && colon != std::string::npos && colon > 12)
            listed[serials.at(line.substr(12, colon - 12))].push_back(line.substr(colon + 4));
    }
    ASSERT_EQ(listed.size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(Fields(*p.StreamAt(i)), listed.at(p.StreamAt(i)->Serial())) << i;
    EXPECT_EQ(Values(p, TagProperty::Title), Expected({"Film"}));
    EXPECT_EQ(Utf8(p.StreamLanguage(0)), "none");
    EXPECT_EQ(Utf8(p.StreamLanguage(1)), "German");
    EXPECT_EQ(Utf8(p.StreamName(1)), "Untertitel ✓");
}
