// The module as a host meets it: loaded from its file, its four entry points, its object count, and its
// registration against other copies of itself.
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "common/callback.h"
#include "common/fixtures.h"
#include "common/shell.h"

namespace {
typedef HRESULT (*GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT (*EntryFn)();
PLAT_GUID(CLSID_Handler, 0xd3a2c1b4, 0x7e58, 0x4f2a, 0x9b, 0x6c, 0x1e, 0x0f, 0x3a, 0x5d, 0x7c, 0x92);

struct Module {
    HMODULE handle;
    GetClassObjectFn getClassObject;
    EntryFn canUnload, reg, unreg;
    explicit Module(const std::string& path) : handle(LoadLibraryA(path.c_str())) {
        getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(handle, "DllGetClassObject"));
        canUnload = reinterpret_cast<EntryFn>(GetProcAddress(handle, "DllCanUnloadNow"));
        reg = reinterpret_cast<EntryFn>(GetProcAddress(handle, "DllRegisterServer"));
        unreg = reinterpret_cast<EntryFn>(GetProcAddress(handle, "DllUnregisterServer"));
    }
    ~Module() { FreeLibrary(handle); }
};


// A copy of the module at another path, with its version record set to the given version.
std::string CopyWithVersion(const std::string& dir, const std::string& name, DWORD ms, DWORD ls) {
    std::ifstream in(OGGSOURCE_MODULE_PATH, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t magic = sizeof(PLAT_VERSION_MAGIC) - 1;
    for (size_t at = 0; at + sizeof(PlatVersionRecord) <= bytes.size(); ++at) {
        if (std::memcmp(&bytes[at], PLAT_VERSION_MAGIC, magic) != 0) continue;
        std::memcpy(&bytes[at + 16], &ms, 4);
        std::memcpy(&bytes[at + 20], &ls, 4);
        break;
    }
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + name;
    {
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string Registered() {
    char path[4096];
    LONG cb = sizeof path;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{D3A2C1B4-7E58-4F2A-9B6C-1E0F3A5D7C92}\\InprocServer32", path, &cb) !=
        ERROR_SUCCESS)
        return "";
    return path;
}

const char kHandlersKey[] = "Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\";

bool HandlerEntry(HKEY root, const std::string& name = ".OGG") {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, (kHandlersKey + name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char text[64];
    DWORD cb = sizeof text;
    bool found = RegQueryValueExA(key, "{D3A2C1B4-7E58-4F2A-9B6C-1E0F3A5D7C92}", nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(text), &cb) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found && std::string(text) == "KEST OGG Source ByteStreamHandler";
}
} // namespace

using ModuleTest = SourceTest;

TEST_F(ModuleTest, ExportsOnlyItsFourEntryPoints) {
    std::string symbols = Shell(std::string("nm -D --defined-only '") + OGGSOURCE_MODULE_PATH + "'");
    std::vector<std::string> names;
    size_t at = 0;
    while (at < symbols.size()) {
        size_t end = symbols.find('\n', at);
        std::string line = symbols.substr(at, end - at);
        names.push_back(line.substr(line.find_last_of(' ') + 1));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                               "DllUnregisterServer"}));
}

TEST_F(ModuleTest, ClassFactoryAndTheObjectCount) {
    Module m(OGGSOURCE_MODULE_PATH);
    ASSERT_TRUE(m.getClassObject && m.canUnload);
    PlatRef<IClassFactory> factory;
    EXPECT_EQ(m.getClassObject(IID_IUnknown, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(m.getClassObject(CLSID_Handler, IID_IClassFactory, nullptr), E_POINTER);
    PlatRef<IMFMediaSource> wrong;
    EXPECT_EQ(m.getClassObject(CLSID_Handler, IID_IMFMediaSource, reinterpret_cast<void**>(&wrong)), E_NOINTERFACE);
    ASSERT_EQ(m.getClassObject(CLSID_Handler, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->AddRef(), 2u) << "the factory came with one reference";
    factory->Release();
    EXPECT_EQ(m.canUnload(), S_OK);

    PlatRef<IUnknown> outer;
    MFCreateAttributes(reinterpret_cast<IMFAttributes**>(&outer), 0);
    PlatRef<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IMFByteStreamHandler, reinterpret_cast<void**>(&aggregated)),
              E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
              CLASS_E_NOAGGREGATION);
    PlatRef<IMFByteStreamHandler> handler;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMFByteStreamHandler, reinterpret_cast<void**>(&handler)), S_OK);
    EXPECT_EQ(m.canUnload(), S_FALSE) << "a handler is alive";
    handler.Reset(nullptr);
    EXPECT_EQ(m.canUnload(), S_OK);
    factory->LockServer(TRUE);
    factory->LockServer(TRUE);
    factory->LockServer(FALSE);
    EXPECT_EQ(m.canUnload(), S_FALSE) << "still locked once";
    factory->LockServer(FALSE);
    EXPECT_EQ(m.canUnload(), S_OK);

    // A whole play, Shutdown and the last Release: nothing of the module stays alive.
    Fixture f = MakeFile("module-play", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1},
        {"kind": "theora", "serial": 2, "seconds": 1, "width": 160, "height": 120}]})");
    {
        PlatRef<IMFMediaSource> source;
        ASSERT_EQ(host::OpenFile(f.path, &source), S_OK);
        EXPECT_EQ(m.canUnload(), S_FALSE);
        host::PlayResult r = host::Play(source.Get(), host::PlayOptions{});
        EXPECT_TRUE(r.endOfPresentation);
        source->Shutdown();
    }
    MFShutdown(); // lets the work queue finish what it holds
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    // The reader thread lets its objects go as it ends, on its own after Shutdown: the count reaches zero then.
    HRESULT unload = S_FALSE;
    for (int i = 0; i < 500 && unload != S_OK; ++i) {
        if (i) Sleep(10);
        unload = m.canUnload();
    }
    EXPECT_EQ(unload, S_OK) << "the source and its streams were all freed";
}

TEST_F(ModuleTest, RegistrationAgainstOtherCopies) {
    Module ours(OGGSOURCE_MODULE_PATH);
    const std::string dir = std::string(::testing::TempDir()) + "/modules-" + std::to_string(getpid());
    std::string newer = CopyWithVersion(dir, "newer.so", 0x00090000, 0);
    std::string older = CopyWithVersion(dir, "older.so", 0, 0);
    ASSERT_EQ(ours.reg(), S_OK);
    EXPECT_EQ(ours.reg(), S_OK) << "registering twice rewrites the same values";
    std::string mine = Registered();
    EXPECT_EQ(mine.find("liboggsource.so"), mine.size() - std::strlen("liboggsource.so"));
    EXPECT_TRUE(HandlerEntry(HKEY_CURRENT_USER));
    EXPECT_FALSE(HandlerEntry(HKEY_LOCAL_MACHINE)) << "the machine key is made without the entry";
    HKEY machine = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers", 0,
                            KEY_READ, &machine),
              ERROR_SUCCESS);
    RegCloseKey(machine);

    {
        Module n(newer);
        ASSERT_EQ(n.reg(), S_OK);
        EXPECT_EQ(Registered(), newer) << "a newer copy takes over";
    }
    EXPECT_EQ(ours.reg(), S_OK);
    EXPECT_EQ(Registered(), newer) << "a newer registration elsewhere is left alone";
    EXPECT_EQ(ours.unreg(), S_OK);
    EXPECT_EQ(Registered(), newer) << "nor does another copy unregister it";
    {
        Module o(older);
        ASSERT_EQ(o.reg(), S_OK);
        EXPECT_EQ(Registered(), newer) << "older than what is registered";
    }
    unlink(newer.c_str());
    EXPECT_EQ(ours.reg(), S_OK);
    EXPECT_EQ(Registered(), mine) << "a registration of a missing file is overwritten";

    // The same path in another letter case counts as ours, whatever its version.
    std::string upper = mine;
    size_t slash = upper.find_last_of('/');
    for (size_t i = slash + 1; i < upper.size(); ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));
    std::string upperCopy = CopyWithVersion(mine.substr(0, slash), upper.substr(slash + 1), 0x00090000, 0);
    HKEY server = nullptr;
    RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{D3A2C1B4-7E58-4F2A-9B6C-1E0F3A5D7C92}\\InprocServer32", 0, KEY_ALL_ACCESS,
                  &server);
    RegSetValueExA(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(upperCopy.c_str()),
                   static_cast<DWORD>(upperCopy.size() + 1));
    RegCloseKey(server);
    EXPECT_EQ(ours.reg(), S_OK);
    EXPECT_EQ(Registered(), mine);
    unlink(upperCopy.c_str());

    EXPECT_EQ(ours.unreg(), S_OK);
    EXPECT_EQ(Registered(), "");
    EXPECT_FALSE(HandlerEntry(HKEY_CURRENT_USER));
    HKEY ogg = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\.OGG",
                            0, KEY_READ, &ogg),
              ERROR_SUCCESS)
        << "the .OGG key stays";
    RegCloseKey(ogg);
    PlatRef<IMFMediaSource> source;
    Fixture f = MakeFile("unregistered", R"({"streams": [{"kind": "ogm_audio", "serial": 1, "packets": 2}]})");
    EXPECT_EQ(host::OpenFile(f.path, &source), MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    unlink(older.c_str());
}

TEST_F(ModuleTest, ARegistryWrittenByRegisterOpensFilesInAnotherProcess) {
    Fixture f = MakeFile("e2e", R"({"streams": [{"kind": "ogm_video", "serial": 42, "packets": 12}]})");
    std::string reg = std::string(::testing::TempDir()) + "/e2e-" + std::to_string(getpid()) + ".reg";
    std::string env = "OGGSOURCE_REGISTRY='" + reg + "' ";
    std::string tool = std::string("'") + OGGSOURCE_TOOL_PATH + "' ";
    unlink(reg.c_str());
    EXPECT_NE(Shell(env + tool + "probe --json '" + f.path + "' 2>&1").find("MF_E_UNSUPPORTED_BYTESTREAM_TYPE"),
              std::string::npos)
        << "nothing registered yet";
    Shell(env + tool + "register");
    std::string probe = Shell(env + tool + "probe --json '" + f.path + "'");
    auto j = nlohmann::json::parse(probe, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << probe;
    EXPECT_EQ(j["streams"][0]["id"], 42);
    std::string play = Shell(env + tool + "play --summary '" + f.path + "'");
    EXPECT_NE(play.find("end of presentation"), std::string::npos) << play;
    unlink(reg.c_str());
    unlink((reg + ".lock").c_str());
}

TEST_F(ModuleTest, TheDemoRunsToTheEndAndExitsZero) {
    // demo.sh pipes the last play into a reader that stops early: the demo must still exit 0.
    ShellOutput o = RunShell(std::string("'") + OGGSOURCE_SOURCE_DIR + "/tools/demo.sh' '" + OGGSOURCE_BINARY_DIR +
                             "' 2>&1");
    EXPECT_EQ(o.status, 0) << o.text;
    EXPECT_NE(o.text.find("end of presentation"), std::string::npos) << o.text;
}

// Every name Ogg files go by, extensions and MIME types, is registered and unregistered (exactly its own values);
// the resolver finds the handler by the byte stream's MIME type when the URL has no extension, and by content
// when the host allows it (what oggsource does): a misnamed file opens.
TEST_F(ModuleTest, EveryOggNameAndMimeTypeFindsTheHandler) {
    const char* names[] = {".OGG", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx", "audio/ogg", "video/ogg", "application/ogg", "audio/opus"};
    Module ours(OGGSOURCE_MODULE_PATH);
    ASSERT_EQ(ours.reg(), S_OK);
    for (const char* n : names) EXPECT_TRUE(HandlerEntry(HKEY_CURRENT_USER, n)) << n;
    // Another handler's value under one of the names stays when this one unregisters.
    HKEY oga = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kHandlersKey) + ".oga").c_str(), 0, KEY_ALL_ACCESS, &oga), ERROR_SUCCESS);
    const char other[] = "another handler";
    RegSetValueExA(oga, "{00000000-1111-2222-3333-444444444444}", 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof other);
    RegCloseKey(oga);

    Fixture f = MakeFile("names", R"({"streams": [{"kind": "vorbis", "serial": 1, "seconds": 1}]})");
    const std::string misnamed = f.path + ".mp3";
    ASSERT_EQ(rename(f.path.c_str(), misnamed.c_str()), 0);
    PlatRef<IMFSourceResolver> resolver;
    ASSERT_EQ(MFCreateSourceResolver(&resolver), S_OK);
    auto open = [&](const wchar_t* url, const wchar_t* mime, DWORD flags) {
        PlatRef<IMFByteStream> stream;
        EXPECT_EQ(MFCreateFileByteStreamA(misnamed.c_str(), &stream), S_OK);
        PlatRef<IMFAttributes> attributes;
        if (mime && SUCCEEDED(stream->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes))))
            attributes->SetString(MF_BYTESTREAM_CONTENT_TYPE, mime);
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        PlatRef<IUnknown> object;
        HRESULT hr = resolver->CreateObjectFromByteStream(stream.Get(), url, flags, nullptr, &type, &object);
        PlatRef<IMFMediaSource> source;
        if (object) object->QueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(&source));
        if (source) source->Shutdown();
        return hr;
    };
    EXPECT_EQ(open(L"stream", nullptr, MF_RESOLUTION_MEDIASOURCE), MF_E_UNSUPPORTED_BYTESTREAM_TYPE) << "no name to go by";
    EXPECT_EQ(open(L"stream", L"audio/ogg", MF_RESOLUTION_MEDIASOURCE), S_OK) << "the MIME type";
    EXPECT_EQ(open(L"stream", L"Video/Ogg", MF_RESOLUTION_MEDIASOURCE), S_OK) << "names compare without regard to case";
    EXPECT_EQ(open(L"song.mp3", nullptr, MF_RESOLUTION_MEDIASOURCE), MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    EXPECT_EQ(open(L"song.mp3", nullptr, MF_RESOLUTION_MEDIASOURCE | MF_RESOLUTION_CONTENT_DOES_NOT_HAVE_TO_MATCH_EXTENSION_OR_MIME_TYPE),
              S_OK) << "by content";
    EXPECT_EQ(open(L"song.OPUS", nullptr, MF_RESOLUTION_MEDIASOURCE), S_OK);
    PlatRef<IMFMediaSource> source;
    EXPECT_EQ(host::OpenFile(misnamed, &source), S_OK) << "the host opens by content";
    if (source) source->Shutdown();

    ASSERT_EQ(ours.unreg(), S_OK);
    for (const char* n : names) EXPECT_FALSE(HandlerEntry(HKEY_CURRENT_USER, n)) << n;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kHandlersKey) + ".oga").c_str(), 0, KEY_READ, &oga), ERROR_SUCCESS);
    char text[64];
    DWORD cb = sizeof text;
    EXPECT_EQ(RegQueryValueExA(oga, "{00000000-1111-2222-3333-444444444444}", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb),
              ERROR_SUCCESS) << "another handler's value is left alone";
    RegCloseKey(oga);
    unlink(misnamed.c_str());
}
