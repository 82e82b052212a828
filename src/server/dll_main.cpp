// What DllMain does on Windows: keep the module handle. Here the loader runs OnLoad when the module is
// mapped, which hands DllMain the module that contains it.
#include "server.h"

HMODULE g_hModule = nullptr;

BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) g_hModule = instance;
    return TRUE;
}

namespace {
__attribute__((constructor)) void OnLoad() {
    DllMain(PlatModuleOf(reinterpret_cast<const void*>(&OnLoad)), DLL_PROCESS_ATTACH, nullptr);
}
} // namespace
