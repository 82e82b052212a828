// The resident memory of a process as Linux tells it (/proc/PID/status), in KB: its peak (VmHWM) can be
// started anew (/proc/PID/clear_refs, "5"), so that each period's peak is read exactly rather than sampled.
#pragma once
#include <sys/types.h>

namespace bench {
// pid 0: this process. -1 when the process is gone or does not say.
long PeakRssKb(pid_t pid);
long RssKb(pid_t pid);
// The peak starts again from the current RSS; false when the kernel refused (or the process is gone).
bool ResetPeakRss(pid_t pid);
} // namespace bench
