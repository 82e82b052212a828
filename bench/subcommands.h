// The subcommands of oggbench that have files of their own.
#pragma once
#include <sys/types.h>

namespace bench {
// Host-call times while a read of the play of FILE is held at the byte stream's gate for stallMs.
int StallLatency(const char* path, int stallMs);
// A broadcast played for `seconds`: memory, samples, links, ticks and errors per minute; then, when feeder is
// a process id, the server is stalled (SIGSTOP to the feeder) and host calls are timed while a read waits.
// peer: a process reading the same URL whose peak memory is shown beside ours (0: none).
int Live(const char* url, int seconds, pid_t feeder, pid_t peer);
} // namespace bench
