// A real Icecast 2 server fed live with a chained Vorbis file, read through the stand-in's http byte
// stream: what arrives is the pushed file's packets, a contiguous run of them (Icecast re-cuts pages and
// renumbers streams, never packets), each link announced by its own headers with its own title.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <unistd.h>

#include "common/icecast_server.h"
#include "common/ogg_packets.h"
#include "common/shell.h"
#include "platform/com_impl.h"
#include "platform/platform.h"

namespace {
// Two links of 2 s each, titled apart: sine tones encoded by oggenc, concatenated.
std::string MakeChain(const std::string& dir) {
    const std::string script =
        "cd " + Quote(dir) +
        " && for f in 440 660; do ffmpeg -loglevel error -y -f lavfi -i sine=frequency=$f:duration=2 "
        "-ac 2 tone$f.wav && oggenc -Q -s $f -t \"Tone $f\" tone$f.wav -o tone$f.ogg || exit 1; done"
        " && cat tone440.ogg tone660.ogg > chain.ogg";
    return RunShell(script).status == 0 ? dir + "/chain.ogg" : std::string();
}

std::string Slurp(const std::string& path) {
    return Shell("cat " + Quote(path));
}

// Where each link's packets start in the file's packet list (its identification header).
std::vector<size_t> LinkStarts(const std::vector<OggPacket>& packets) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < packets.size(); ++i)
        if (packets[i].bos) starts.push_back(i);
    return starts;
}

// True when got[3..] is the file's packets (over and over) from some data packet of the link whose
// three headers got begins with.
bool IsContiguousRun(const std::vector<OggPacket>& file, const std::vector<OggPacket>& got,
                     std::string* why) {
    const std::vector<size_t> starts = LinkStarts(file);
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t first = starts[k], end = k + 1 < starts.size() ? starts[k + 1] : file.size();
        bool headers = true;
        for (size_t h = 0; h < 3; ++h)
            headers = headers && got[h].data == file[first + h].data;
        if (!headers) continue;
        for (size_t j = first + 3; j < end; ++j) {
            size_t n = 3;
            while (n < got.size() && got[n].data == file[(j + n - 3) % file.size()].data)
                ++n;
            if (n == got.size()) return true;
        }
        *why = "the headers of link " + std::to_string(k) +
               " are followed by packets that are no run of the file's";
        return false;
    }
    *why = "the first three packets are no link's headers";
    return false;
}
} // namespace

TEST(IcecastLive, AMountReadsAsTheFilesPacketsInARunWithEachLinksTitle) {
    if (!IcecastServer::Installed())
        GTEST_SKIP() << "icecast2 or shout (libshout-tools) is not installed: run ./run setup";
    char dir[] = "/tmp/oggsource-chain-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string chain = MakeChain(dir);
    ASSERT_FALSE(chain.empty()) << "ffmpeg or oggenc could not make the chained file";
    IcecastServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    ASSERT_TRUE(server.Feed(chain, "/live.ogg", &why)) << why;

    PlatRef<IMFByteStream> s;
    ASSERT_EQ(MFCreateHttpByteStreamA(server.MountUrl("/live.ogg").c_str(), &s), S_OK);
    DWORD caps = 0;
    ASSERT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, MFBYTESTREAM_IS_READABLE | MFBYTESTREAM_IS_REMOTE) << "a broadcast: remote, not seekable";
    QWORD length = 0;
    ASSERT_EQ(s->GetLength(&length), S_OK);
    EXPECT_EQ(length, ~QWORD(0)) << "a broadcast has no length";
    EXPECT_EQ(s->SetCurrentPosition(0), S_OK);
    EXPECT_EQ(s->SetCurrentPosition(100), MF_E_BYTESTREAM_NOT_SEEKABLE);

    // A little more than two links' worth (the file is 4 s and ~16 KB): the run crosses a link.
    const std::vector<OggPacket> file = SplitPackets(Slurp(chain));
    const size_t want = Slurp(chain).size() + 4096;
    std::string bytes(want, '\0');
    for (size_t at = 0; at < want;) {
        const ULONG ask = static_cast<ULONG>(std::min<size_t>(4096, want - at));
        ULONG read = 0;
        ASSERT_EQ(s->Read(reinterpret_cast<BYTE*>(bytes.data() + at), ask, &read), S_OK);
        ASSERT_EQ(read, ask) << "a live stream's read is full";
        at += read;
    }
    s->Close();
    server.Stop();
    const std::vector<OggPacket> got = SplitPackets(bytes);
    ASSERT_GT(got.size(), 100u);
    EXPECT_TRUE(IsContiguousRun(file, got, &why)) << why;
    std::vector<std::string> titles;
    for (size_t i = 0; i + 1 < got.size(); ++i)
        if (got[i].bos) {
            std::string comments = got[i + 1].data; // field names in any case ("title=" from oggenc)
            for (char& c : comments)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const size_t at = comments.find("title=tone ");
            titles.push_back(at == std::string::npos ? "?" : got[i + 1].data.substr(at + 11, 3));
        }
    ASSERT_GE(titles.size(), 2u) << "a new link's headers came";
    for (size_t i = 1; i < titles.size(); ++i)
        EXPECT_NE(titles[i], titles[i - 1]) << "each link carries its own title, in turn";
    std::filesystem::remove_all(dir);
}
