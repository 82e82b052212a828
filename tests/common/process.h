// Test helpers for the servers a test runs as processes of its own: started in a process group of their
// own, ended (group and all) by the id they were given.
#pragma once
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Starts argv[0] with the arguments in a process group of its own, output to log.
// Everything the child needs is made before the fork: a child of a threaded process may not allocate.
inline pid_t SpawnProcess(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // A test that dies ends its servers too (Icecast loses this when it drops its rights).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (fd >= 0) close(fd);
    return pid;
}

inline void EndProcess(pid_t* pid) {
    if (*pid <= 0) return;
    kill(-*pid, SIGTERM); // the group: a feeder's shell, its cat and shout
    kill(*pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 50 && waitpid(*pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(*pid, &status, WNOHANG) == 0) {
        kill(-*pid, SIGKILL);
        kill(*pid, SIGKILL);
        waitpid(*pid, &status, 0);
    }
    *pid = -1;
}
