// The few kernel services used outside the platform by their Win32 names.
#pragma once
#include "wintypes.h"

extern "C" {
// The calling thread's id, never 0.
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);
}
