// Commands of the Windows leg's tests: Linux commands with their errors logged, and Wine commands run again
// when Wine's own runtime ended them. Shared by the leg's test files.
#pragma once
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "common/shell.h"

// In an unnamed namespace, inline: each test file takes what it uses.
namespace {
// Runs a command; when it fails, what it printed on stderr goes to the test's log (Wine's own messages too)
// and to *errors.
inline ShellOutput Command(const std::string& command, std::string* errors = nullptr) {
    const std::string file =
        std::string(::testing::TempDir()) + "/windows-leg-stderr-" + std::to_string(getpid());
    ShellOutput o = RunShell(command + " 2>" + Quote(file));
    if (o.status != 0) {
        std::ifstream in(file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "[ exit %d ] %s\n%s\n", o.status, command.c_str(), text.substr(0, 4000).c_str());
        if (errors) *errors = text;
    }
    unlink(file.c_str());
    return o;
}

// Wine's drive Z: is the root of the Linux file system.
inline std::string WinePath(const std::string& path) {
    std::string w = "Z:" + path;
    std::replace(w.begin(), w.end(), '/', '\\');
    for (size_t at; (at = w.find("\\\\")) != std::string::npos;)
        w.erase(at, 1);
    return w;
}

// A Wine process that Wine's own runtime ended, whatever the program did: Wine failing to start it (its fixed
// shared page taken by an address the system chose: "failed to map the shared user data", status 1, before
// the program runs), glibc's loader asserting in its exit (seen on Wine's own reg.exe: "Inconsistency
// detected by ld.so: dl-fini.c"), or a kill by the Wine server (SIGKILL, status 137). Such a command is run
// again, at most twice, and the log says so.
inline bool EndedByWine(const ShellOutput& o, const std::string& errors) {
    if (o.status == 137) return true;
    return o.status != 0 && (errors.find("Inconsistency detected by ld.so") != std::string::npos ||
                             errors.find("failed to map the shared user data") != std::string::npos);
}

// environment: "NAME=value " assignments for the Wine process (Wine hands them to the Windows program).
inline ShellOutput Wine(const std::string& args, const std::string& environment = "") {
    std::string errors;
    ShellOutput o = Command(environment + "wine " + args, &errors);
    for (int retry = 0; retry < 2 && EndedByWine(o, errors); ++retry) {
        std::fprintf(stderr, "[ again ] the command above was ended by Wine itself: run once more\n");
        errors.clear();
        o = Command(environment + "wine " + args, &errors);
    }
    return o;
}

inline ShellOutput Regsvr32(const std::string& module, bool unregister = false) {
    return Wine(std::string("regsvr32 /s ") + (unregister ? "/u " : "") + Quote(WinePath(module)));
}

// One Wine server for a whole suite. Left to itself the server exits 3 s after its last client, and a client
// that starts while it exits is killed (exit status 137) or reads a registry the exiting server has not saved
// yet; with the tests' pace (a Linux command between two Wine commands) that gap comes up.
inline bool StartPersistentWineServer() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        RunShell("wineserver -k 2>/dev/null"); // a server with the default timeout (then -p refuses to start)
        if (RunShell("wineserver -p 2>/dev/null").status == 0) return true;
        usleep(100 * 1000);
    }
    return false;
}
} // namespace
