// DllMain: keeps the module handle (the registration writes the module's own path).
#include "server.h"

HMODULE g_hModule = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) g_hModule = instance;
    return TRUE;
}

PLAT_MODULE_ENTRY(DllMain)
