// Test files written by oggmux, and the host side of opening and playing them.
#pragma once
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "host.h"
#include "muxer.h"
#include "probe.h"

struct Fixture {
    std::string path;
    oggmux::MuxResult record;
};

inline Fixture MakeFile(const std::string& name, const std::string& json) {
    Fixture f;
    oggmux::Description d;
    std::string error;
    EXPECT_TRUE(oggmux::ParseDescription(json, &d, &error)) << error;
    EXPECT_TRUE(oggmux::Mux(d, &f.record, &error)) << error;
    f.path = std::string(::testing::TempDir()) + "/" + name + "-" + std::to_string(getpid()) + ".ogg";
    std::ofstream out(f.path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(f.record.file.data()), static_cast<std::streamsize>(f.record.file.size()));
    return f;
}

// MFStartup for the life of a test, and an isolated registry.
struct SourceTest : ::testing::Test {
    void SetUp() override {
        m_registry = std::string(::testing::TempDir()) + "/registry-" + std::to_string(getpid()) + ".reg";
        setenv("OGGSOURCE_REGISTRY", m_registry.c_str(), 1);
        MFStartup(MF_VERSION, MFSTARTUP_FULL);
        // Files open as a host opens them: through the resolver and the module registered for ".OGG".
        ASSERT_EQ(host::CallModule(OGGSOURCE_MODULE_PATH, "DllRegisterServer"), S_OK);
    }
    void TearDown() override {
        MFShutdown();
        unlink(m_registry.c_str());
        unlink((m_registry + ".lock").c_str());
    }
    std::string m_registry;
};

inline nlohmann::json Probe(IMFMediaSource* source) {
    nlohmann::json j;
    EXPECT_EQ(host::Describe(source, &j), S_OK);
    return j;
}

inline const nlohmann::json* StreamById(const nlohmann::json& probe, uint32_t id) {
    for (const auto& s : probe["streams"])
        if (s["id"].get<uint32_t>() == id) return &s;
    return nullptr;
}

// The samples of one stream, in arrival order.
inline std::vector<host::Sample> Of(const std::vector<host::Sample>& all, DWORD id) {
    std::vector<host::Sample> v;
    for (const auto& s : all)
        if (s.stream == id) v.push_back(s);
    return v;
}
inline std::vector<host::Sample> Of(const host::PlayResult& r, DWORD id) { return Of(r.samples, id); }

// A byte stream over a file that counts its reads (and fails, shortens or delays them as `config` says).
inline PlatRef<IMFByteStream> CountingStream(const std::string& path, IFaultByteStreamControl** control,
                                             const FaultConfig* config = nullptr) {
    PlatRef<IMFByteStream> file, counted;
    MFCreateFileByteStreamA(path.c_str(), &file);
    if (file) MFCreateFaultByteStream(file.Get(), config, &counted);
    if (counted && control) counted->QueryInterface(IID_IFaultByteStreamControl, reinterpret_cast<void**>(control));
    return counted;
}

// Opens a file (or any byte stream) through the handler; the source is shut down by the guard.
struct OpenedSource {
    PlatRef<IMFMediaSource> source;
    HRESULT hr = E_FAIL;
    explicit OpenedSource(const std::string& path) { hr = host::OpenFile(path, &source); }
    explicit OpenedSource(IMFByteStream* stream) { hr = host::OpenByteStream(stream, &source); }
    ~OpenedSource() {
        if (source) source->Shutdown();
    }
    IMFMediaSource* operator->() const { return source.Get(); }
};
