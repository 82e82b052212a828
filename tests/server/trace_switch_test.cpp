// The trace switch: off as shipped; on from the settings key's "Trace" value (the user's classes first) or
// the OGGSOURCE_TRACE environment variable, which wins; a value with the master bit is the flag word itself.
// Each case is a host process (oggsource play) that loads the module afresh.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "common/fixtures.h"
#include "common/shell.h"
#include "oggsource.h"
#include "support/trace.h"

namespace {
static_assert(OGGSOURCE_TRACE_ON == TRACE_ON && OGGSOURCE_TRACE_FILE == TRACE_FILE &&
                  OGGSOURCE_TRACE_TIME == TRACE_TIME && OGGSOURCE_TRACE_THREAD == TRACE_THREAD &&
                  OGGSOURCE_TRACE_HANDLES == TRACE_HANDLES && OGGSOURCE_TRACE_DEBUGGER == TRACE_DEBUGGER,
              "the public header's trace bits are the module's");

const char kUserKey[] = "Software\\Classes\\" OGGSOURCE_SETTINGS_KEY;

struct TraceSwitch : SourceTest {
    void SetUp() override {
        SourceTest::SetUp();
        m_drive = std::string(::testing::TempDir()) + "/trace-switch-" + std::to_string(getpid());
        mkdir(m_drive.c_str(), 0755);
        m_file = MakeFile("trace-switch", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1}]})");
    }
    void TearDown() override {
        RunShell("rm -rf " + Quote(m_drive));
        unlink(m_file.path.c_str());
        SourceTest::TearDown();
    }
    // Plays the file in a host process of its own; the trace file's text ("" when there is none).
    std::string PlayAndReadTrace(const std::string& environment) {
        unlink((m_drive + "/KESTTrace.txt").c_str());
        const ShellOutput o =
            RunShell("OGGSOURCE_DRIVE_C=" + Quote(m_drive) + " " + environment + " " +
                     Quote(OGGSOURCE_TOOL_PATH) + " play --null --start 0.5 " + Quote(m_file.path));
        EXPECT_EQ(o.status, 0);
        std::ifstream in(m_drive + "/KESTTrace.txt", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void SetValue(HKEY root, const char* path, DWORD value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, OGGSOURCE_TRACE_VALUE, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    std::string m_drive;
    Fixture m_file;
};

TEST_F(TraceSwitch, OffAsShipped) {
    EXPECT_EQ(PlayAndReadTrace(""), "");
}

TEST_F(TraceSwitch, OnFromTheEnvironment) {
    const std::string text = PlayAndReadTrace("OGGSOURCE_TRACE=1");
    EXPECT_NE(text.find(": trace flags 0xf"), std::string::npos) << text;
    EXPECT_EQ(PlayAndReadTrace("OGGSOURCE_TRACE=0"), "");
    EXPECT_EQ(PlayAndReadTrace("OGGSOURCE_TRACE=yes"), "") << "not a number: left off";
}

// A value with the master bit is the flag word: 0x9 is on and to the file, without time or thread prefixes.
TEST_F(TraceSwitch, AValueWithTheMasterBitIsTheFlagWord) {
    const std::string text = PlayAndReadTrace("OGGSOURCE_TRACE=0x9");
    EXPECT_NE(text.find("\r\noggsource "), std::string::npos) << "a line without prefixes: " << text;
    EXPECT_NE(text.find("trace flags 0x9"), std::string::npos) << text;
    EXPECT_EQ(PlayAndReadTrace("OGGSOURCE_TRACE=0x8"), "") << "on, but not to the file";
}

TEST_F(TraceSwitch, OnFromTheSettingsKey) {
    SetValue(HKEY_CLASSES_ROOT, OGGSOURCE_SETTINGS_KEY, 1);
    EXPECT_NE(PlayAndReadTrace("").find("trace flags 0xf"), std::string::npos);
    SetValue(HKEY_CLASSES_ROOT, OGGSOURCE_SETTINGS_KEY, 0);
    EXPECT_EQ(PlayAndReadTrace(""), "");
}

TEST_F(TraceSwitch, TheUsersClassesComeFirstAndTheEnvironmentWins) {
    SetValue(HKEY_CLASSES_ROOT, OGGSOURCE_SETTINGS_KEY, 0);
    SetValue(HKEY_CURRENT_USER, kUserKey, 1);
    EXPECT_NE(PlayAndReadTrace("").find("trace flags 0xf"), std::string::npos);
    EXPECT_EQ(PlayAndReadTrace("OGGSOURCE_TRACE=0"), "");
    SetValue(HKEY_CURRENT_USER, kUserKey, 0);
    SetValue(HKEY_CLASSES_ROOT, OGGSOURCE_SETTINGS_KEY, 1);
    EXPECT_EQ(PlayAndReadTrace(""), "") << "the user's 0 wins over the machine's 1";
    EXPECT_NE(PlayAndReadTrace("OGGSOURCE_TRACE=1").find("trace flags 0xf"), std::string::npos);
}
} // namespace
