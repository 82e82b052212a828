// The thumbnail provider of the Windows build, made by class under Wine (oggsource thumbnail) from the module
// registered with regsvr32, on files made here by the encoders: a PNG cover (with an alpha channel) and a
// JPEG cover of four coloured quadrants, drawn at the size asked for and in their colours; a file without a
// cover and bytes that are not Ogg fail with their errors and no bitmap.
//
// Needs the Windows leg prepared (./run windows), as windows_leg_test.cpp says: OGGSOURCE_WINDOWS_BUILD,
// OGGSOURCE_WINDOWS_ARCH, WINEPREFIX.
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "common/shell.h"
#include "wine_commands.h"

namespace {
struct Pixel {
    int b, g, r, a;
};

// The cover: 300 x 200, quadrants red, green at half alpha, blue, and yellow fully transparent (its colour
// kept).
const char kQuadrants[] = "color=red:s=150x100,format=rgba[a];color=lime@0.5:s=150x100,format=rgba[b];"
                          "color=blue:s=150x100,format=rgba[c];color=yellow@0.0:s=150x100,format=rgba[d];"
                          "[a][b]hstack[t];[c][d]hstack[u];[t][u]vstack";
// Top left, top right, bottom left, bottom right, in BGRA (straight alpha: the colour whatever the alpha).
const Pixel kColours[4] = {{0, 0, 255, 255}, {0, 255, 0, 128}, {255, 0, 0, 255}, {0, 255, 255, 0}};

class Thumbnails : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("WINEDEBUG", "fixme-all", 0);
        s_server = StartPersistentWineServer();
    }
    static void TearDownTestSuite() { Command("wineserver -k"); }
    void SetUp() override {
        const char* build = std::getenv("OGGSOURCE_WINDOWS_BUILD");
        const char* arch = std::getenv("OGGSOURCE_WINDOWS_ARCH");
        ASSERT_TRUE(build && std::getenv("WINEPREFIX"))
            << "run through ./run windows: it builds the Windows leg";
        ASSERT_TRUE(s_server) << "wineserver -p did not start a persistent server";
        m_arch = arch ? arch : "x64";
        m_host = std::string(build) + "/tools/oggsource/oggsource.exe";
        m_check = std::string(build) + "/tests/windows/thumbnail_check.exe";
        ASSERT_EQ(Regsvr32(std::string(build) + "/src/server/oggsource.dll").status, 0);
        char dir[] = "/tmp/oggsource-thumbnails-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
    }
    void TearDown() override { std::system(("rm -rf " + Quote(m_dir)).c_str()); }

    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    // oggsource thumbnail's JSON line (with "status": its exit status), the pixels in `raw`.
    nlohmann::json Thumbnail(const std::string& file, unsigned size, std::string* raw) {
        const std::string out = Path("out.raw");
        unlink(out.c_str());
        const ShellOutput o = Wine(Quote(m_host) + " thumbnail --size " + std::to_string(size) + " --out " +
                                   Quote(WinePath(out)) + " " + Quote(WinePath(file)));
        nlohmann::json j = nlohmann::json::parse(o.text, nullptr, false);
        if (j.is_discarded()) j = {{"output", o.text}};
        j["status"] = o.status;
        std::ifstream in(out, std::ios::binary);
        *raw = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return j;
    }
    // Each quadrant's centre holds its colour, within `tolerance` per channel (scaling and JPEG blur edges,
    // not centres).
    static void ExpectQuadrants(const std::string& raw, int width, int height, int tolerance, bool alpha) {
        ASSERT_EQ(raw.size(), static_cast<size_t>(width) * height * 4);
        for (int q = 0; q < 4; ++q) {
            const int x = width / 4 + (q % 2) * width / 2, y = height / 4 + (q / 2) * height / 2;
            const auto* p =
                reinterpret_cast<const unsigned char*>(raw.data()) + (static_cast<size_t>(y) * width + x) * 4;
            const Pixel want = kColours[q];
            SCOPED_TRACE("quadrant " + std::to_string(q) + " at " + std::to_string(x) + "," +
                         std::to_string(y));
            EXPECT_NEAR(p[0], want.b, tolerance);
            EXPECT_NEAR(p[1], want.g, tolerance);
            EXPECT_NEAR(p[2], want.r, tolerance);
            EXPECT_NEAR(p[3], alpha ? want.a : 255, alpha ? tolerance : 0);
        }
    }

    static bool s_server;
    std::string m_arch, m_host, m_check, m_dir;
};
bool Thumbnails::s_server = false;

TEST_F(Thumbnails, TheCoverIsDrawnToSizeInItsColoursAndAFileWithoutOneFails) {
    const std::string graph = std::string("\"") + kQuadrants + "\"";
    ASSERT_EQ(Command("ffmpeg -v error -y -f lavfi -i " + graph + " -frames:v 1 " + Quote(Path("cover.png")))
                  .status,
              0);
    ASSERT_EQ(
        Command("ffmpeg -v error -y -i " + Quote(Path("cover.png")) + " -q:v 2 " + Quote(Path("cover.jpg")))
            .status,
        0);
    ASSERT_EQ(
        Command("ffmpeg -v error -y -f lavfi -i color=red:s=1600x4 -frames:v 1 " + Quote(Path("wide.png")))
            .status,
        0);
    ASSERT_EQ(Command("ffmpeg -v error -y -f lavfi -i sine=f=440:d=1 -ac 2 " + Quote(Path("in.wav"))).status,
              0);
    for (const char* cover : {"cover.png", "wide.png"})
        ASSERT_EQ(Command("opusenc --quiet --picture " + Quote(Path(cover)) + " " + Quote(Path("in.wav")) +
                          " " + Quote(Path(std::string(cover) + ".opus")))
                      .status,
                  0);
    ASSERT_EQ(Command("flac --silent --force --ogg --picture=" + Quote(Path("cover.jpg")) + " -o " +
                      Quote(Path("jpeg.oga")) + " " + Quote(Path("in.wav")))
                  .status,
              0);
    ASSERT_EQ(Command("opusenc --quiet " + Quote(Path("in.wav")) + " " + Quote(Path("plain.opus"))).status,
              0);
    std::string raw;

    // 256: the longer side 256, the other 200 * 256 / 300 = 170.67 -> 171; straight alpha kept (WTSAT_ARGB).
    nlohmann::json j = Thumbnail(Path("cover.png.opus"), 256, &raw);
    ASSERT_EQ(j["status"], 0) << j.dump();
    EXPECT_EQ(j["width"], 256);
    EXPECT_EQ(j["height"], 171);
    EXPECT_EQ(j["bits_per_pixel"], 32);
    EXPECT_EQ(j["alpha"], "WTSAT_ARGB");
    ExpectQuadrants(raw, 256, 171, 6, true);
    // 1000: never scaled up, the image's own 300 x 200.
    j = Thumbnail(Path("cover.png.opus"), 1000, &raw);
    ASSERT_EQ(j["status"], 0) << j.dump();
    EXPECT_EQ(j["width"], 300);
    EXPECT_EQ(j["height"], 200);
    ExpectQuadrants(raw, 300, 200, 6, true);
    // A JPEG in a FLAC PICTURE block, at 96: 96 x 64, opaque.
    j = Thumbnail(Path("jpeg.oga"), 96, &raw);
    ASSERT_EQ(j["status"], 0) << j.dump();
    EXPECT_EQ(j["width"], 96);
    EXPECT_EQ(j["height"], 64);
    ExpectQuadrants(raw, 96, 64, 24, false);
    // 1600 x 4 at 256: 4 * 256 / 1600 = 0.64 rows, one row kept.
    j = Thumbnail(Path("wide.png.opus"), 256, &raw);
    ASSERT_EQ(j["status"], 0) << j.dump();
    EXPECT_EQ(j["width"], 256);
    EXPECT_EQ(j["height"], 1);
    ASSERT_EQ(raw.size(), 256u * 4);
    EXPECT_NEAR(static_cast<unsigned char>(raw[2]), 255, 6) << "red";

    // No cover: the shell's WTS_E_FAILEDEXTRACTION, no bitmap. Not Ogg: the open's error.
    j = Thumbnail(Path("plain.opus"), 256, &raw);
    EXPECT_EQ(j["status"], 1);
    EXPECT_EQ(j["error"], "0x8004B200") << j.dump();
    EXPECT_EQ(j["bitmap"], false);
    EXPECT_TRUE(raw.empty());
    j = Thumbnail(Path("in.wav"), 256, &raw);
    EXPECT_EQ(j["status"], 1);
    EXPECT_EQ(j["error"], "MF_E_CANNOT_PARSE_BYTESTREAM (0xC00D36F0)") << j.dump();

    // The shell's entry: written by the 64-bit module only (the 32-bit one's leg may find the 64-bit one's).
    if (m_arch == "x64") {
        const ShellOutput q =
            Wine("reg query \"HKLM\\Software\\Classes\\SystemFileAssociations\\.opus\\ShellEx\\"
                 "{e357fccd-a995-4576-b01f-234630154e96}\" /ve");
        EXPECT_NE(q.text.find("{2C57AA39-7663-4D73-9620-8B1B871CF09C}"), std::string::npos) << q.text;
    }
}

// The lifetime rules, by class as the shell makes the provider (thumbnail_check.exe): nothing before
// Initialize, one Initialize per object, pointers checked, and the module kept loaded exactly while the
// provider is held.
TEST_F(Thumbnails, LifetimeRulesOfTheProviderMadeByClass) {
    ASSERT_EQ(Command("ffmpeg -v error -y -f lavfi -i color=red:s=64x48 -frames:v 1 " + Quote(Path("c.png")))
                  .status,
              0);
    ASSERT_EQ(Command("ffmpeg -v error -y -f lavfi -i sine=d=1 " + Quote(Path("in.wav"))).status, 0);
    ASSERT_EQ(Command("opusenc --quiet --picture " + Quote(Path("c.png")) + " " + Quote(Path("in.wav")) +
                      " " + Quote(Path("c.opus")))
                  .status,
              0);
    const ShellOutput o = Wine(Quote(m_check) + " " + Quote(WinePath(Path("c.opus"))));
    ASSERT_EQ(o.status, 0);
    const nlohmann::json j = nlohmann::json::parse(o.text, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << o.text;
    EXPECT_EQ(j["create"], "0x00000000");
    EXPECT_EQ(j["held_can_unload"], "0x00000001") << "S_FALSE: the provider counts in the module's objects";
    EXPECT_EQ(j["before_initialize"], "0x8000FFFF") << "E_UNEXPECTED";
    EXPECT_EQ(j["bitmap_before"], false);
    EXPECT_EQ(j["initialize_null"], "0x80004003") << "E_POINTER";
    EXPECT_EQ(j["initialize"], "0x00000000");
    EXPECT_EQ(j["initialize_again"], "0x800704DF") << "HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED)";
    EXPECT_EQ(j["null_bitmap"], "0x80004003");
    EXPECT_EQ(j["size_zero"], "0x80070057") << "E_INVALIDARG";
    EXPECT_EQ(j["thumbnail"], "0x00000000");
    EXPECT_EQ(j["released_can_unload"], "0x00000000");
}
} // namespace
