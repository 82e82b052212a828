#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "support/buffer.h"
#include "support/trace.h"

TEST(Buffers, ExactGrowthFormatSwapAndReuse) {
    CBuffer a;
    EXPECT_EQ(a.Append(nullptr, 0), S_OK);
    EXPECT_EQ(a.Data(), nullptr) << "appending nothing allocates nothing";
    ASSERT_EQ(a.Append("abcde", 5), S_OK);
    EXPECT_EQ(a.Capacity(), 5) << "growth is exact";
    ASSERT_EQ(a.Append("fg", 2), S_OK);
    EXPECT_EQ(a.Capacity(), 7);
    BYTE* storage = a.Data();
    a.Clear();
    ASSERT_EQ(a.Append("xyz", 3), S_OK);
    EXPECT_EQ(a.Data(), storage) << "no reallocation while it fits";
    EXPECT_TRUE(a.Reserve(2));
    EXPECT_EQ(a.Capacity(), 7) << "Reserve never shrinks";
    ASSERT_EQ(a.Format("abc"), S_OK);
    EXPECT_EQ(a.Size(), 4) << "the NUL counts";
    EXPECT_STREQ(reinterpret_cast<char*>(a.Data()), "abc");
    ASSERT_EQ(a.Format("%d-%s", 42, "long text that needs more room"), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(a.Data()), "42-long text that needs more room");

    CBuffer b;
    EXPECT_EQ(a.Swap(nullptr), E_POINTER);
    ASSERT_EQ(b.Swap(&a), S_OK);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Size(), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(b.Data()), "42-long text that needs more room");

    CHeapBuffer* h = new CHeapBuffer;
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->Append("heap", 4), S_OK);
    delete h;
}

namespace {
LONGLONG g_elapsed = 0;
void FixedTime(SYSTEMTIME* t) {
    *t = SYSTEMTIME{};
    t->wHour = 10;
    t->wMinute = 59;
    t->wSecond = 59;
    t->wMilliseconds = 900;
}
LONGLONG Elapsed() { return g_elapsed; }
const TraceClock kClock{FixedTime, Elapsed};

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_drive = std::string(::testing::TempDir()) + "/drive-c-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        mkdir(m_drive.c_str(), 0755);
        setenv("OGGSOURCE_DRIVE_C", m_drive.c_str(), 1);
        std::wcscpy(g_szTraceFile, L"c:\\KESTTrace.txt");
        g_elapsed = 0;
        TraceSetClock(&kClock);
    }
    void TearDown() override {
        TraceRelease();
        g_dwTraceFlags = TRACE_SHIPPED;
        TraceSetClock(nullptr);
        std::wcscpy(g_szTraceFile, L"c:\\KESTTrace.txt");
        std::system(("rm -rf '" + m_drive + "'").c_str());
    }
    std::string File(const std::string& name = "KESTTrace.txt") {
        std::ifstream in(m_drive + "/" + name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string m_drive;
};
} // namespace

TEST_F(TraceTest, ShippedFlagsWriteNothing) {
    Trace("\nSetRate(%f)", 2.0);
    EXPECT_STREQ(FormatDuration(1500), "");
    TraceRelease();
    struct stat st;
    EXPECT_NE(stat((m_drive + "/KESTTrace.txt").c_str(), &st), 0) << "no file appears";
}

TEST_F(TraceTest, PrefixesPausesAndLineEnds) {
    g_dwTraceFlags = TRACE_ON | TRACE_FILE | TRACE_TIME;
    Trace("\nfirst");
    g_elapsed = 50;
    Trace("\nsecond %d", 2);
    Trace(" continued");
    g_elapsed = 151; // 101 ms after the last stamp: a blank line
    Trace("\n\nthird\nline\rend\r\n");
    g_elapsed = 251; // exactly 100 ms: none
    Trace("\nfourth");
    TraceRelease();
    EXPECT_EQ(File(), "\xEF\xBB\xBF"
                      "\r\n10:59:59.900: first"
                      "\r\n10:59:59.950: second 2 continued"
                      "\r\n\r\n\r\n11:00:00.051: third\r\nline\r\nend\r\n"
                      "\r\n11:00:00.151: fourth");

    g_dwTraceFlags = TRACE_ON | TRACE_FILE | TRACE_THREAD;
    Trace("\nthreaded");
    TraceRelease();
    char expected[64];
    std::snprintf(expected, sizeof expected, "\r\n%08x: threaded", GetCurrentThreadId());
    std::string all = File();
    EXPECT_EQ(all.substr(all.size() - std::strlen(expected)), expected) << "no byte-order mark on a file that has text";
    EXPECT_EQ(all.find("\xEF\xBB\xBF", 3), std::string::npos);
}

TEST_F(TraceTest, FormatDuration) {
    g_dwTraceFlags = TRACE_ON;
    EXPECT_STREQ(FormatDuration(999), "999ms");
    EXPECT_STREQ(FormatDuration(1000), "1.000s");
    EXPECT_STREQ(FormatDuration(-999), "-999ms");
    EXPECT_STREQ(FormatDuration(-1500), "-1.500s");
    const char* first = FormatDuration(1);
    for (int i = 0; i < 15; ++i) FormatDuration(2);
    EXPECT_STREQ(first, "1ms") << "valid for 16 calls";
    // A counter of 1 GHz (and of 10 MHz) after 107 days, and a part second.
    const LONGLONG days107 = 107LL * 86400;
    EXPECT_EQ(TraceTicksToMs(days107 * 1000000000LL + 999999999LL, 1000000000LL), days107 * 1000 + 999);
    EXPECT_EQ(TraceTicksToMs(days107 * 10000000LL, 10000000LL), days107 * 1000);
    EXPECT_EQ(TraceTicksToMs(0x7fffffffffffffffLL, 1000000000LL), 9223372036854LL);
}

TEST_F(TraceTest, RelocatesIntoADirectoryOfItsOwnName) {
    mkdir((m_drive + "/KESTTrace.txt").c_str(), 0755); // the name is taken by a directory: no file there
    g_dwTraceFlags = TRACE_ON | TRACE_FILE;
    Trace("\nmoved");
    TraceRelease();
    EXPECT_EQ(File("KESTTrace.txt/KESTTrace.txt"), "\xEF\xBB\xBF\r\nmoved");
    EXPECT_EQ(std::wstring(g_szTraceFile), L"c:\\KESTTrace.txt\\KESTTrace.txt");

    // Again with writers racing: the timer's flushes and the release, while threads trace. The name moves once.
    std::system(("rm -rf '" + m_drive + "/KESTTrace.txt'").c_str());
    mkdir((m_drive + "/KESTTrace.txt").c_str(), 0755);
    std::wcscpy(g_szTraceFile, L"c:\\KESTTrace.txt");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                Trace("\nx");
                if (i % 50 == 0) usleep(200000); // across the timer's 500 ms
            }
        });
    for (auto& t : threads) t.join();
    TraceRelease();
    EXPECT_EQ(std::wstring(g_szTraceFile), L"c:\\KESTTrace.txt\\KESTTrace.txt");
    EXPECT_EQ(File("KESTTrace.txt/KESTTrace.txt").size(), 3u + 4 * 200 * 3);
}

TEST_F(TraceTest, ManyThreadsNoLineLostOrTornAndTheTimerWrites) {
    g_dwTraceFlags = TRACE_ON | TRACE_FILE | TRACE_THREAD;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 400; ++i) Trace("\nline %d.%d end", t, i);
        });
    for (auto& t : threads) t.join();
    // The 500 ms timer writes on its own; wait for it rather than the release.
    for (int i = 0; i < 100 && File().size() < 8 * 400 * 20; ++i) usleep(50000);
    EXPECT_GT(File().size(), 0u) << "the timer flushed without a release";
    TraceRelease();
    std::string all = File();
    std::set<std::string> seen;
    std::map<int, int> lastOfThread; // each thread's lines in the order it traced them, whoever flushed them
    size_t at = 3;
    while ((at = all.find("\r\n", at)) != std::string::npos) {
        size_t end = all.find("\r\n", at + 2);
        std::string line = all.substr(at + 2, (end == std::string::npos ? all.size() : end) - at - 2);
        unsigned tid;
        int t, i;
        char tail[8];
        ASSERT_EQ(std::sscanf(line.c_str(), "%x: line %d.%d %3s", &tid, &t, &i, tail), 4) << "torn: " << line;
        seen.insert(std::to_string(t) + "." + std::to_string(i));
        auto last = lastOfThread.find(t);
        EXPECT_TRUE(last == lastOfThread.end() || last->second < i) << "out of order: " << line;
        lastOfThread[t] = i;
        at += 2;
    }
    EXPECT_EQ(seen.size(), 8u * 400u);
}
