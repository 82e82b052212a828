// Runs shell commands: what they print on standard output, and how they exited.
#pragma once
#include <cstdio>
#include <string>
#include <sys/wait.h>

struct ShellOutput {
    int status = -1; // the exit code; -1 when the command could not run or was killed
    std::string text;
};

inline ShellOutput RunShell(const std::string& command) {
    ShellOutput o;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return o;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.text.append(buf, n);
    const int status = pclose(p);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

inline std::string Shell(const std::string& command) { return RunShell(command).text; }

// A word for the shell: quoted, with its own quotes escaped.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
