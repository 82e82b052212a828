// The registry values the shell handlers' registrations write and remove: string values read and written by
// path, a class as registry text, and a removal that takes only a value that still reads as this module wrote
// it (and the keys that leaves empty).
#pragma once
#include "platform/platform.h"

// The extensions the shell's handlers (the property handler, the thumbnail provider) are registered for.
inline constexpr const char* kShellExtensions[] = {".ogg", ".oga", ".ogv", ".ogm", ".ogx", ".opus", ".spx"};

HRESULT FromWin32(LONG error);
// The class as registry text, "{...}"; false when it cannot be made.
bool ClassText(REFCLSID clsid, char (&text)[64]);
// A non-empty string value of root\subKey (name null: the default value); false when there is none.
bool ReadString(HKEY root, const char* subKey, const char* name, char* text, DWORD size);
// Creates root\subKey as needed and sets the string value.
LONG WriteString(HKEY root, const char* subKey, const char* name, const char* value);
// Removes the value when it reads `value`, and the key with it when nothing else is left in it.
void RemoveIfOurs(HKEY root, const char* subKey, const char* name, const char* value);
// Removes root\subKey when it holds no value and no key.
void RemoveIfEmpty(HKEY root, const char* subKey);
