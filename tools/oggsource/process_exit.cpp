#include "process_exit.h"

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>

namespace {
// The threads of this process, -1 when they cannot be listed.
int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    CloseHandle(snapshot);
    return count;
}
} // namespace

void SettleBeforeExit() {
    int last = ThreadsOfThisProcess(), steady = 0;
    for (int waited = 0; last > 1 && waited < 500 && steady < 50; waited += 5) {
        Sleep(5);
        int now = ThreadsOfThisProcess();
        steady = now == last ? steady + 5 : 0;
        last = now;
    }
}
#else
void SettleBeforeExit() {}
#endif
