// The registry tree in memory, and its .reg text form.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "wintypes.h"

struct RegValue {
    std::string name; // "" is the default value, written @ in the text
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegKey {
    std::string name;
    std::vector<RegValue> values;
    std::vector<std::unique_ptr<RegKey>> subkeys;

    RegKey* Child(const std::string& name) const; // case-insensitive
    RegKey* AddChild(const std::string& name);
    bool RemoveChild(const std::string& name);
    RegValue* Value(const std::string& name); // case-insensitive
    void SetValue(const std::string& name, DWORD type, const BYTE* data, size_t size);
    bool RemoveValue(const std::string& name);
};

class RegTree {
public:
    RegTree();
    // The key at "HKEY_...\a\b" (root name included); null when absent unless create is set.
    RegKey* Find(const std::string& path, bool create);
    bool Remove(const std::string& path);
    RegKey* Root(const std::string& name) const;

    // Parses .reg text into the tree (as an import does: [-key] and "v"=- delete). False on a malformed line.
    bool Parse(const std::string& text, std::string* error);
    std::string Serialize() const;

private:
    std::vector<std::unique_ptr<RegKey>> m_roots;
};

bool RegNameEquals(const std::string& a, const std::string& b);
std::vector<std::string> RegSplitPath(const std::string& path);
