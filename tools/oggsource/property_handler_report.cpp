// What `oggsource register` says of the shell's entries (the property handler's and the thumbnail
// provider's): registration never replaces another product's entry and goes on without the rights to write
// HKEY_LOCAL_MACHINE, so the person registering is told which extensions Explorer will not read through this
// module.
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "host.h"
#include "oggsource.h"

namespace {
const char* const kExtensions[] = {".ogg", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx"};

// One line per extension whose entry (HKEY_LOCAL_MACHINE\before.ext after) is missing or names another class.
void ReportEntries(const char* what, REFCLSID clsid, const char* before, const char* after) {
    WCHAR wide[39];
    char ours[64];
    StringFromGUID2(clsid, wide, 39);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, ours, sizeof ours, nullptr, nullptr);
    for (const char* extension : kExtensions) {
        const std::string key = std::string(before) + extension + after;
        char owner[256] = "";
        LONG cb = sizeof owner;
        const bool found =
            RegQueryValueA(HKEY_LOCAL_MACHINE, key.c_str(), owner, &cb) == ERROR_SUCCESS && *owner;
        if (!found)
            std::printf("%s for %s: not registered (HKEY_LOCAL_MACHINE could not be written: "
                        "register elevated, with the 64-bit module)\n",
                        what, extension);
        else if (strcasecmp(owner, ours) != 0)
            std::printf("%s for %s: left to %s, another product's\n", what, extension, owner);
    }
}
} // namespace

void ReportPropertyHandlers() {
    ReportEntries("property handler", CLSID_OGGPropertyHandler,
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\", "");
    ReportEntries("thumbnail provider", CLSID_OGGThumbnailProvider,
                  "Software\\Classes\\SystemFileAssociations\\",
                  "\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}");
}
