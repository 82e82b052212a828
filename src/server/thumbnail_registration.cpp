// The thumbnail provider's registration: its class, and per extension the shell's thumbnail handler entry,
// HKEY_LOCAL_MACHINE\Software\Classes\SystemFileAssociations\.ext\ShellEx\{e357fccd-...}
// (IThumbnailProvider's interface ID), default value the provider's class.
//
// Why SystemFileAssociations\.ext: the shell finds a file's handlers in the type's association array, the
// ProgID that .ext names first, then SystemFileAssociations\.ext (and the perceived type). The ProgID belongs
// to the application that owns the extension (a player that takes .ogg over writes its own, and the user's
// choice of default program changes which one counts), so an entry there or beside it under .ext is lost or
// hidden when the association changes; SystemFileAssociations\.ext is read whichever application owns the
// type. A ProgID's own thumbnail handler still comes first: another product's is never overridden.
//
// Written under HKEY_LOCAL_MACHINE\Software\Classes (HKEY_CLASSES_ROOT's machine part) so that it holds for
// every user and, like the property handler's entry, is skipped (and said) where the process may not write
// there.
#include <strings.h>

#include "registry_values.h"
#include "server.h"
#include "support/trace.h"

namespace {
const char kFriendlyName[] = "KEST OGG Source Thumbnail Provider";
const char kAssociations[] = "Software\\Classes\\SystemFileAssociations";
const char kThumbnailHandler[] = "ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

// One extension's entry. Another product's stays; a refusal (no rights) skips it: neither fails the
// registration.
void RegisterExtension(const char* extension, const char* clsid) {
    char path[MAX_PATH], owner[64];
    if (FAILED(StringCchPrintfA(path, MAX_PATH, "%s\\%s\\%s", kAssociations, extension, kThumbnailHandler)))
        return;
    if (ReadString(HKEY_LOCAL_MACHINE, path, nullptr, owner, sizeof owner) && strcasecmp(owner, clsid) != 0) {
        Trace("\nThumbnail provider for %s: left to %s, registered there already", extension, owner);
        return;
    }
    const LONG error = WriteString(HKEY_LOCAL_MACHINE, path, nullptr, clsid);
    if (error != ERROR_SUCCESS)
        Trace("\nThumbnail provider for %s: skipped, HKEY_LOCAL_MACHINE not written (error %ld)", extension,
              static_cast<long>(error));
}
} // namespace

HRESULT RegisterThumbnailProvider() {
    char clsid[64];
    if (!ClassText(CLSID_OGGThumbnailProvider, clsid)) return E_UNEXPECTED;
    const HRESULT hr = RegisterInprocClass(CLSID_OGGThumbnailProvider, kFriendlyName);
    // 64-bit Explorer (and its thumbnail surrogate) reads the 64-bit view and cannot load a 32-bit module:
    // the shared SystemFileAssociations key names the provider from the 64-bit build only, as
    // PropertyHandlers does.
    if (SUCCEEDED(hr) && sizeof(void*) == 8)
        for (const char* extension : kShellExtensions)
            RegisterExtension(extension, clsid);
    return hr;
}

void UnregisterThumbnailProvider() {
    char clsid[64], path[MAX_PATH];
    if (!ClassText(CLSID_OGGThumbnailProvider, clsid)) return;
    if (SUCCEEDED(StringCchPrintfA(path, MAX_PATH, "CLSID\\%s", clsid)))
        RegDeleteTreeA(HKEY_CLASSES_ROOT, path);
    // The entries are the 64-bit build's (the key is shared by both views): a 32-bit build leaves them.
    for (const char* extension : kShellExtensions) {
        if (sizeof(void*) != 8) break;
        if (FAILED(
                StringCchPrintfA(path, MAX_PATH, "%s\\%s\\%s", kAssociations, extension, kThumbnailHandler)))
            continue;
        RemoveIfOurs(HKEY_LOCAL_MACHINE, path, nullptr, clsid);
        // The ShellEx and .ext keys the entry was made in go too when nothing else is left in them.
        if (SUCCEEDED(StringCchPrintfA(path, MAX_PATH, "%s\\%s\\ShellEx", kAssociations, extension)))
            RemoveIfEmpty(HKEY_LOCAL_MACHINE, path);
        if (SUCCEEDED(StringCchPrintfA(path, MAX_PATH, "%s\\%s", kAssociations, extension)))
            RemoveIfEmpty(HKEY_LOCAL_MACHINE, path);
    }
}
