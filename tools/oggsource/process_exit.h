#pragma once

// Called after MFShutdown, just before the host returns from main.
//
// Windows: waits (at most half a second) until the threads that the system's work queues and thread pools
// were ending have ended. Wine 8 can crash a process (SIGSEGV, exit status 139) that ends while one of
// its threads is still on the way out: the process's end signals that thread in the middle of its exit.
// Elsewhere: nothing to wait for.
void SettleBeforeExit();
