// The shell property handler's registration: its class, the machine-wide handler entries (left to another
// product, skipped without the rights to write them) and the property lists, and an unregistration that
// removes exactly what was added.
#include <cstdlib>

#include "common/fixtures.h"
#include "common/shell.h"
#include "oggsource.h"
#include "registry_access.h"

using namespace regtest;

namespace {
const char kOurs[] = "{CD374A63-BF86-493D-A206-5349DE03F0D3}";
const char kOther[] = "{00000000-1111-2222-3333-444444444444}";
const char kOtherList[] = "prop:System.Title";
const char* const kExtensions[] = {".ogg", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx"};
const char* const kLists[] = {"FullDetails", "PreviewDetails", "InfoTip"};

std::string HandlerKey(const std::string& extension) {
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\" + extension;
}
std::string ListKey(const std::string& extension) {
    return "SystemFileAssociations\\" + extension;
}

struct PropertyHandlerRegistration : SourceTest {
    static HRESULT Register() { return host::CallModule(OGGSOURCE_MODULE_PATH, "DllRegisterServer"); }
    static HRESULT Unregister() { return host::CallModule(OGGSOURCE_MODULE_PATH, "DllUnregisterServer"); }
    static std::string Tool(const std::string& args, const std::string& env = "") {
        return Shell(env + " " + Quote(OGGSOURCE_TOOL_PATH) + " " + args + " 2>&1");
    }
};

TEST_F(PropertyHandlerRegistration, EntriesWrittenAndRemovedExactly) {
    // SetUp registered the module.
    const std::string clsid = std::string("CLSID\\") + kOurs;
    EXPECT_NE(Read(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", nullptr).find("liboggsource"),
              std::string::npos);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "ThreadingModel"), "Both");
    for (const char* e : kExtensions) {
        EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, HandlerKey(e), nullptr), kOurs) << e;
        for (const char* list : kLists)
            EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(e), list).rfind("prop:System.", 0), 0u) << e << list;
    }
    EXPECT_EQ(Register(), S_OK) << "registering again rewrites the same values";
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, HandlerKey(".opus"), nullptr), kOurs);
    // The handler is made by class from what was registered.
    PlatRef<IInitializeWithStream> handler;
    EXPECT_EQ(CoCreateInstance(CLSID_OGGPropertyHandler, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IInitializeWithStream, reinterpret_cast<void**>(&handler)),
              S_OK);
    handler.Reset(nullptr);

    ASSERT_EQ(Unregister(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsid));
    for (const char* e : kExtensions) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HandlerKey(e))) << e;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ListKey(e))) << e;
    }
    PlatRef<IInitializeWithStream> gone;
    EXPECT_EQ(CoCreateInstance(CLSID_OGGPropertyHandler, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IInitializeWithStream, reinterpret_cast<void**>(&gone)),
              REGDB_E_CLASSNOTREG);
}

TEST_F(PropertyHandlerRegistration, AnotherProductsHandlerAndListsStayAndAreReported) {
    ASSERT_EQ(Unregister(), S_OK);
    Write(HKEY_LOCAL_MACHINE, HandlerKey(".opus"), nullptr, kOther);
    Write(HKEY_CLASSES_ROOT, ListKey(".oga"), "FullDetails", kOtherList);
    Write(HKEY_CLASSES_ROOT, ListKey(".ogv"), "PerceivedType",
          "video"); // another product's value beside ours
    const std::string out = Tool("register");
    EXPECT_NE(out.find(std::string("property handler for .opus: left to ") + kOther), std::string::npos)
        << out;
    EXPECT_EQ(out.find(".ogg:"), std::string::npos) << "registered extensions are not named: " << out;
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, HandlerKey(".opus"), nullptr), kOther);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, HandlerKey(".ogg"), nullptr), kOurs);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(".oga"), "FullDetails"), kOtherList);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(".oga"), "InfoTip").rfind("prop:", 0), 0u);

    ASSERT_EQ(Unregister(), S_OK);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, HandlerKey(".opus"), nullptr), kOther) << "not ours to remove";
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(".oga"), "FullDetails"), kOtherList);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(".oga"), "InfoTip"), "<none>");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(".ogv"), "PerceivedType"), "video");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(".ogv"), "FullDetails"), "<none>");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HandlerKey(".ogg")));
}

TEST_F(PropertyHandlerRegistration, WithoutRightsToTheMachineTheRestIsRegistered) {
    ASSERT_EQ(Unregister(), S_OK);
    setenv("OGGSOURCE_REGISTRY_DENY", "HKEY_LOCAL_MACHINE", 1);
    EXPECT_EQ(Register(), S_OK) << "the skipped entries do not fail the registration";
    unsetenv("OGGSOURCE_REGISTRY_DENY");
    for (const char* e : kExtensions) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HandlerKey(e))) << e;
        EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ListKey(e), "InfoTip").rfind("prop:", 0), 0u) << e;
    }
    EXPECT_NE(Read(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kOurs + "\\InprocServer32", nullptr),
              "<none>");
    PlatRef<IMFMediaSource> source;
    Fixture f = MakeFile("rights", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1}]})");
    EXPECT_EQ(host::OpenFile(f.path, &source), S_OK) << "the byte-stream handler is registered";
    if (source) source->Shutdown();
    // The tool says what was skipped.
    ASSERT_EQ(Unregister(), S_OK);
    const std::string out = Tool("register", "OGGSOURCE_REGISTRY_DENY=HKEY_LOCAL_MACHINE");
    for (const char* e : kExtensions)
        EXPECT_NE(out.find(std::string("property handler for ") + e + ": not registered (HKEY_LOCAL_MACHINE"),
                  std::string::npos)
            << out;
    unlink(f.path.c_str());
}
} // namespace
