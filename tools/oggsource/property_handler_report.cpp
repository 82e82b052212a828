// What `oggsource register` says of the shell property handler's entries: registration never replaces another
// product's handler and goes on without the rights to write HKEY_LOCAL_MACHINE, so the person registering is
// told which extensions Explorer will not read through this module.
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "host.h"
#include "oggsource.h"

void ReportPropertyHandlers() {
    static const char* const extensions[] = {".ogg", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx"};
    WCHAR wide[39];
    char ours[64];
    StringFromGUID2(CLSID_OGGPropertyHandler, wide, 39);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, ours, sizeof ours, nullptr, nullptr);
    for (const char* extension : extensions) {
        const std::string key =
            std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\") +
            extension;
        char owner[256] = "";
        LONG cb = sizeof owner;
        const bool found =
            RegQueryValueA(HKEY_LOCAL_MACHINE, key.c_str(), owner, &cb) == ERROR_SUCCESS && *owner;
        if (!found)
            std::printf("property handler for %s: not registered (HKEY_LOCAL_MACHINE could not be written: "
                        "register elevated, with the 64-bit module)\n",
                        extension);
        else if (strcasecmp(owner, ours) != 0)
            std::printf("property handler for %s: left to %s, another product's\n", extension, owner);
    }
}
