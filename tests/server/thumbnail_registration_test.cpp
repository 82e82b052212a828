// The thumbnail provider's registration: its class, the shell's thumbnail entries under
// HKEY_LOCAL_MACHINE\Software\Classes\SystemFileAssociations\.ext\ShellEx (left to another product, skipped
// without the rights to write them), and an unregistration that removes exactly what was added.
#include <cstdlib>

#include "common/fixtures.h"
#include "common/shell.h"
#include "oggsource.h"
#include "registry_access.h"

using namespace regtest;

namespace {
const char kOurs[] = "{2C57AA39-7663-4D73-9620-8B1B871CF09C}";
const char kOther[] = "{00000000-1111-2222-3333-444444444444}";
// Another shell extension's entry beside ours (IExtractImage's), which must outlive our unregistration.
const char kOtherExtension[] = "{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}";
const char* const kExtensions[] = {".ogg", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx"};

std::string AssociationKey(const std::string& extension) {
    return "Software\\Classes\\SystemFileAssociations\\" + extension;
}
std::string ThumbnailKey(const std::string& extension) {
    return AssociationKey(extension) + "\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
}

struct ThumbnailRegistration : SourceTest {
    static HRESULT Register() { return host::CallModule(OGGSOURCE_MODULE_PATH, "DllRegisterServer"); }
    static HRESULT Unregister() { return host::CallModule(OGGSOURCE_MODULE_PATH, "DllUnregisterServer"); }
    static std::string Tool(const std::string& args, const std::string& env = "") {
        return Shell(env + " " + Quote(OGGSOURCE_TOOL_PATH) + " " + args + " 2>&1");
    }
};

TEST_F(ThumbnailRegistration, EntriesWrittenAndRemovedExactly) {
    // SetUp registered the module.
    const std::string clsid = std::string("CLSID\\") + kOurs;
    EXPECT_NE(Read(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", nullptr).find("liboggsource"),
              std::string::npos);
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(Read(HKEY_CLASSES_ROOT, clsid, nullptr), "KEST OGG Source Thumbnail Provider");
    for (const char* e : kExtensions)
        EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ThumbnailKey(e), nullptr), kOurs) << e;
    EXPECT_EQ(Register(), S_OK) << "registering again rewrites the same values";
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ThumbnailKey(".opus"), nullptr), kOurs);
    // The provider decodes with WIC: the Linux module registers its keys but does not serve the class.
    PlatRef<IUnknown> provider;
    EXPECT_EQ(CoCreateInstance(CLSID_OGGThumbnailProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&provider)),
              CLASS_E_CLASSNOTAVAILABLE);

    ASSERT_EQ(Unregister(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsid));
    for (const char* e : kExtensions)
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AssociationKey(e)))
            << e << ": the keys made for it go too";
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID")) << "only our class key was removed";
}

TEST_F(ThumbnailRegistration, AnotherProductsProviderAndEntriesStayAndAreReported) {
    ASSERT_EQ(Unregister(), S_OK);
    Write(HKEY_LOCAL_MACHINE, ThumbnailKey(".opus"), nullptr, kOther);
    Write(HKEY_LOCAL_MACHINE, AssociationKey(".ogv") + "\\ShellEx\\" + kOtherExtension, nullptr, kOther);
    Write(HKEY_LOCAL_MACHINE, AssociationKey(".oga"), "PerceivedType", "audio");
    const std::string out = Tool("register");
    EXPECT_NE(out.find(std::string("thumbnail provider for .opus: left to ") + kOther), std::string::npos)
        << out;
    EXPECT_EQ(out.find("thumbnail provider for .ogg"), std::string::npos)
        << "registered ones are not named: " << out;
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ThumbnailKey(".opus"), nullptr), kOther);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ThumbnailKey(".ogv"), nullptr), kOurs);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ThumbnailKey(".oga"), nullptr), kOurs);

    ASSERT_EQ(Unregister(), S_OK);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, ThumbnailKey(".opus"), nullptr), kOther) << "not ours to remove";
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, AssociationKey(".ogv") + "\\ShellEx\\" + kOtherExtension, nullptr),
              kOther);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ThumbnailKey(".ogv")));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, AssociationKey(".oga"), "PerceivedType"), "audio");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AssociationKey(".oga") + "\\ShellEx"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AssociationKey(".ogg")));
}

TEST_F(ThumbnailRegistration, WithoutRightsToTheMachineTheRestIsRegisteredAndTheSkipsNamed) {
    ASSERT_EQ(Unregister(), S_OK);
    setenv("OGGSOURCE_REGISTRY_DENY", "HKEY_LOCAL_MACHINE", 1);
    EXPECT_EQ(Register(), S_OK) << "the skipped entries do not fail the registration";
    unsetenv("OGGSOURCE_REGISTRY_DENY");
    for (const char* e : kExtensions)
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AssociationKey(e))) << e;
    EXPECT_NE(Read(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kOurs + "\\InprocServer32", nullptr),
              "<none>");
    ASSERT_EQ(Unregister(), S_OK);
    const std::string out = Tool("register", "OGGSOURCE_REGISTRY_DENY=HKEY_LOCAL_MACHINE");
    for (const char* e : kExtensions)
        EXPECT_NE(
            out.find(std::string("thumbnail provider for ") + e + ": not registered (HKEY_LOCAL_MACHINE"),
            std::string::npos)
            << out;
}
} // namespace
