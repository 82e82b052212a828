// The module loaded as a host loads it, asked whether it may be unloaded (DllCanUnloadNow).
#pragma once
#include <chrono>
#include <thread>

#include "platform/platform.h"

class ModuleWatch {
public:
    ModuleWatch() : m_module(LoadLibraryA(OGGSOURCE_MODULE_PATH)) {
        if (m_module) m_canUnload = reinterpret_cast<CanUnloadFn>(GetProcAddress(m_module, "DllCanUnloadNow"));
    }
    ~ModuleWatch() {
        if (m_module) FreeLibrary(m_module);
    }
    ModuleWatch(const ModuleWatch&) = delete;
    ModuleWatch& operator=(const ModuleWatch&) = delete;

    bool Loaded() const { return m_canUnload != nullptr; }
    // What DllCanUnloadNow answers now.
    HRESULT CanUnloadNow() const { return m_canUnload(); }
    // Whether it answers S_OK within 10 s: the last references of earlier sources may still be dropped by
    // work-queue threads, and a reader lets its byte stream go once its read has returned.
    bool Unloadable() const {
        for (int i = 0; i < 1000 && m_canUnload() != S_OK; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return m_canUnload() == S_OK;
    }

private:
    typedef HRESULT (*CanUnloadFn)();
    HMODULE m_module;
    CanUnloadFn m_canUnload = nullptr;
};
