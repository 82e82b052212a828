#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = std::string(::testing::TempDir()) + "/reg-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".reg";
        unlink(m_path.c_str());
        const char* old = std::getenv("OGGSOURCE_REGISTRY");
        if (old) m_old = old;
        setenv("OGGSOURCE_REGISTRY", m_path.c_str(), 1);
    }
    void TearDown() override {
        unlink(m_path.c_str());
        unlink((m_path + ".lock").c_str());
        if (m_old.empty()) unsetenv("OGGSOURCE_REGISTRY");
        else setenv("OGGSOURCE_REGISTRY", m_old.c_str(), 1);
    }
    std::string Text() {
        std::ifstream in(m_path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string m_path, m_old;
};

LONG SetString(HKEY k, const char* name, const std::string& v) {
    return RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                          static_cast<DWORD>(v.size() + 1));
}
} // namespace

TEST_F(Registry, RoundTripThroughTheRegTextWithCaseInsensitiveNames) {
    HKEY k = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    HKEY bad = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "\\CLSID\\{DEF}", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad, nullptr),
              ERROR_BAD_PATHNAME)
        << "a subkey is relative: Windows refuses a leading backslash";
    ASSERT_EQ(SetString(k, nullptr, "/opt/lib/x \"quoted\" \\ path.so"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k, "ThreadingModel", "Both"), ERROR_SUCCESS);
    DWORD dw = 0x1234abcd;
    ASSERT_EQ(RegSetValueExA(k, "Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dw), 4), ERROR_SUCCESS);
    RegCloseKey(k);

    std::string text = Text();
    EXPECT_NE(text.find("Windows Registry Editor Version 5.00"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\CLSID\\{ABC}\\InprocServer32]"), std::string::npos);
    EXPECT_NE(text.find("@=\"/opt/lib/x \\\"quoted\\\" \\\\ path.so\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Count\"=dword:1234abcd"), std::string::npos) << text;

    // Read back through differently cased names.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid\\{abc}\\INPROCSERVER32", 0, KEY_READ, &k), ERROR_SUCCESS);
    char buf[128];
    DWORD cb = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExA(k, "threadingmodel", nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(buf, "Both");
    EXPECT_EQ(cb, 5u);
    cb = 2;
    EXPECT_EQ(RegQueryValueExA(k, "ThreadingModel", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb),
              ERROR_MORE_DATA);
    EXPECT_EQ(cb, 5u) << "a short buffer learns the size it needs";
    cb = 0;
    EXPECT_EQ(RegQueryValueExA(k, "Missing", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetString(k, "x", "y"), ERROR_ACCESS_DENIED) << "opened for reading only";
    RegCloseKey(k);

    LONG lcb = sizeof buf;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", buf, &lcb), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "/opt/lib/x \"quoted\" \\ path.so");
    lcb = sizeof buf;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}", buf, &lcb), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "") << "an unset default value reads as empty";
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{ABD}", buf, &lcb), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Clsid\\{Abc}", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(k);

    EXPECT_EQ(RegDeleteKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", "Count"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", "Count"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", 0, KEY_READ, &k),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &k), ERROR_SUCCESS) << "the parent stays";
    RegCloseKey(k);
}

TEST_F(Registry, ImportsHandWrittenRegText) {
    {
        std::ofstream out(m_path);
        out << "Windows Registry Editor Version 5.00\r\n\r\n"
               "; a comment\r\n"
               "[HKEY_CURRENT_USER\\Software\\Test\\FOURCC Mapping]\r\n"
               "\"XVID\"=\"DIVX\"\r\n"
               "\"Bin\"=hex:01,02,\\\r\n  03\r\n"
               "\"Q\"=hex(b):08,07,06,05,04,03,02,01\r\n"
               "[HKEY_CURRENT_USER\\Software\\Gone]\r\n"
               "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n";
    }
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test\\FOURCC Mapping", 0, KEY_READ, &k), ERROR_SUCCESS);
    BYTE buf[16];
    DWORD cb = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExA(k, "xvid", nullptr, &type, buf, &cb), ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "DIVX");
    cb = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(k, "Bin", nullptr, &type, buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(cb, 3u);
    EXPECT_EQ(buf[2], 3);
    cb = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(k, "Q", nullptr, &type, buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_QWORD);
    EXPECT_EQ(cb, 8u);
    char name[32];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumValueA(k, 3, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(k);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Gone", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ConcurrentWriterProcessesLoseNothing) {
    constexpr int kProcs = 4, kValues = 25;
    pid_t pids[kProcs];
    for (int p = 0; p < kProcs; ++p) {
        pids[p] = fork();
        ASSERT_GE(pids[p], 0);
        if (pids[p] == 0) {
            int bad = 0;
            for (int i = 0; i < kValues; ++i) {
                HKEY k = nullptr;
                std::string key = "Software\\Writer" + std::to_string(p);
                if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                    nullptr) != ERROR_SUCCESS) {
                    ++bad;
                    continue;
                }
                bad += SetString(k, ("v" + std::to_string(i)).c_str(), std::to_string(p * 1000 + i)) != 0;
                RegCloseKey(k);
            }
            _exit(bad);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int p = 0; p < kProcs; ++p) {
        for (int i = 0; i < kValues; ++i) {
            HKEY k = nullptr;
            std::string key = "Software\\Writer" + std::to_string(p);
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
            char buf[32];
            DWORD cb = sizeof buf;
            EXPECT_EQ(RegQueryValueExA(k, ("v" + std::to_string(i)).c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buf), &cb),
                      ERROR_SUCCESS)
                << "writer " << p << " value " << i << " was lost";
            EXPECT_EQ(std::string(buf), std::to_string(p * 1000 + i));
            RegCloseKey(k);
        }
    }
}
