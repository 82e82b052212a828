// The shell property handler's registration. The shell reads one machine-wide key per extension
// (HKEY_LOCAL_MACHINE\...\PropertySystem\PropertyHandlers\.ext, default value the handler's class): it is
// written where the process may write it and no other product's handler holds the extension, and what is
// skipped is said in the trace log. The extensions' property lists (the columns, preview and tip Explorer
// shows) go under HKEY_CLASSES_ROOT\SystemFileAssociations\.ext, beside the class keys, where another
// product's list stays.
#include <cstring>
#include <strings.h>

#include "registry_values.h"
#include "server.h"
#include "support/trace.h"

namespace {
const char kFriendlyName[] = "KEST OGG Source Property Handler";
const char kPropertyHandlers[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers";

struct PropertyList {
    const char* name;
    const char* value;
};
const PropertyList kLists[] = {
    {"FullDetails",
     "prop:System.PropGroup.Description;System.Title;System.Music.Artist;System.Music.AlbumTitle;"
     "System.Music.AlbumArtist;System.Music.Genre;System.Music.Composer;System.Music.TrackNumber;System."
     "Media.Year;"
     "System.Comment;System.PropGroup.Audio;System.Media.Duration;System.Audio.EncodingBitrate;"
     "System.Audio.ChannelCount;System.Audio.SampleRate;System.PropGroup.Video;System.Video.FrameWidth;"
     "System.Video.FrameHeight;System.Video.FrameRate"},
    {"PreviewDetails",
     "prop:System.Title;System.Music.Artist;System.Music.AlbumTitle;System.Music.Genre;System.Media.Year;"
     "System.Media.Duration;System.Audio.EncodingBitrate"},
    {"InfoTip", "prop:System.ItemTypeText;System.Music.Artist;System.Title;System.Media.Duration"},
};

// One extension's handler entry. Another product's stays; a refusal (no rights) skips it: neither fails the
// registration.
void RegisterExtension(const char* extension, const char* clsid) {
    char path[MAX_PATH], owner[64];
    if (FAILED(StringCchPrintfA(path, MAX_PATH, "%s\\%s", kPropertyHandlers, extension))) return;
    if (ReadString(HKEY_LOCAL_MACHINE, path, nullptr, owner, sizeof owner) && strcasecmp(owner, clsid) != 0) {
        Trace("\nProperty handler for %s: left to %s, registered there already", extension, owner);
        return;
    }
    const LONG error = WriteString(HKEY_LOCAL_MACHINE, path, nullptr, clsid);
    if (error != ERROR_SUCCESS)
        Trace("\nProperty handler for %s: skipped, HKEY_LOCAL_MACHINE not written (error %ld)", extension,
              static_cast<long>(error));
}

// The extension's property lists, each where no other list is set.
HRESULT RegisterLists(const char* extension) {
    char path[MAX_PATH], existing[1024];
    HRESULT hr = StringCchPrintfA(path, MAX_PATH, "SystemFileAssociations\\%s", extension);
    for (const PropertyList& list : kLists) {
        if (FAILED(hr)) break;
        if (ReadString(HKEY_CLASSES_ROOT, path, list.name, existing, sizeof existing) &&
            std::strcmp(existing, list.value) != 0) {
            Trace("\n%s of %s: another list is set, left alone", list.name, extension);
            continue;
        }
        hr = FromWin32(WriteString(HKEY_CLASSES_ROOT, path, list.name, list.value));
    }
    return hr;
}
} // namespace

HRESULT RegisterPropertyHandler() {
    char clsid[64];
    if (!ClassText(CLSID_OGGPropertyHandler, clsid)) return E_UNEXPECTED;
    HRESULT hr = RegisterInprocClass(CLSID_OGGPropertyHandler, kFriendlyName);
    for (const char* extension : kShellExtensions) {
        if (FAILED(hr)) break;
        // 64-bit Explorer reads the 64-bit view only, and cannot load a 32-bit module: a 32-bit build names
        // none.
        if (sizeof(void*) == 8) RegisterExtension(extension, clsid);
        hr = RegisterLists(extension);
    }
    return hr;
}

void UnregisterPropertyHandler(bool otherView) {
    char clsid[64], path[MAX_PATH];
    if (!ClassText(CLSID_OGGPropertyHandler, clsid)) return;
    if (SUCCEEDED(StringCchPrintfA(path, MAX_PATH, "CLSID\\%s", clsid)))
        RegDeleteTreeA(HKEY_CLASSES_ROOT, path);
    for (const char* extension : kShellExtensions) {
        if (SUCCEEDED(StringCchPrintfA(path, MAX_PATH, "%s\\%s", kPropertyHandlers, extension)))
            RemoveIfOurs(HKEY_LOCAL_MACHINE, path, nullptr, clsid);
        // The lists are one set for both builds (HKEY_CLASSES_ROOT is shared): they stay while the other uses
        // them.
        if (otherView || FAILED(StringCchPrintfA(path, MAX_PATH, "SystemFileAssociations\\%s", extension)))
            continue;
        for (const PropertyList& list : kLists)
            RemoveIfOurs(HKEY_CLASSES_ROOT, path, list.name, list.value);
    }
}
