#include "reg_store.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {
const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
const char* const kHeader = "Windows Registry Editor Version 5.00";

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Reads a quoted string starting at s[at] == '"'; leaves at past the closing quote.
bool ReadQuoted(const std::string& s, size_t& at, std::string* out) {
    if (at >= s.size() || s[at] != '"') return false;
    out->clear();
    for (++at; at < s.size(); ++at) {
        char c = s[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c == '\\' && at + 1 < s.size()) c = s[++at];
        out->push_back(c);
    }
    return false;
}

bool ParseHexBytes(const std::string& s, std::vector<BYTE>* out) {
    out->clear();
    size_t at = 0;
    while (at < s.size()) {
        while (at < s.size() && (s[at] == ',' || isspace(static_cast<unsigned char>(s[at])))) ++at;
        if (at >= s.size()) break;
        if (at + 1 >= s.size() || !isxdigit(static_cast<unsigned char>(s[at])) ||
            !isxdigit(static_cast<unsigned char>(s[at + 1])))
            return false;
        out->push_back(static_cast<BYTE>(std::stoul(s.substr(at, 2), nullptr, 16)));
        at += 2;
    }
    return true;
}

// Parses the part after '=' of a value line. Sets *remove for "-".
bool ParseData(const std::string& s, DWORD* type, std::vector<BYTE>* data, bool* remove) {
    *remove = false;
    if (s == "-") {
        *remove = true;
        return true;
    }
    if (!s.empty() && s[0] == '"') {
        size_t at = 0;
        std::string text;
        if (!ReadQuoted(s, at, &text) || !Trim(s.substr(at)).empty()) return false;
        *type = 1; // REG_SZ
        data->assign(text.begin(), text.end());
        data->push_back(0);
        return true;
    }
    if (s.rfind("dword:", 0) == 0) {
        std::string hex = s.substr(6);
        if (hex.empty() || hex.size() > 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        DWORD v = static_cast<DWORD>(std::stoul(hex, nullptr, 16));
        *type = 4; // REG_DWORD
        data->resize(4);
        std::memcpy(data->data(), &v, 4);
        return true;
    }
    if (s.rfind("hex:", 0) == 0) {
        *type = 3; // REG_BINARY
        return ParseHexBytes(s.substr(4), data);
    }
    if (s.rfind("hex(", 0) == 0) {
        size_t close = s.find("):");
        if (close == std::string::npos || close == 4) return false;
        std::string t = s.substr(4, close - 4);
        if (t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos || t.size() > 8) return false;
        *type = static_cast<DWORD>(std::stoul(t, nullptr, 16));
        return ParseHexBytes(s.substr(close + 2), data);
    }
    return false;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string FormatValue(const RegValue& v) {
    std::string line = v.name.empty() ? "@" : Quote(v.name);
    line += "=";
    const auto& d = v.data;
    bool plainString = v.type == 1 && !d.empty() && d.back() == 0 &&
                       std::memchr(d.data(), 0, d.size() - 1) == nullptr &&
                       std::memchr(d.data(), '\n', d.size()) == nullptr;
    if (plainString) return line + Quote(std::string(d.begin(), d.end() - 1));
    if (v.type == 4 && d.size() == 4) {
        DWORD x;
        std::memcpy(&x, d.data(), 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", x);
        return line + buf;
    }
    char buf[16];
    if (v.type == 3) line += "hex:";
    else {
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        line += buf;
    }
    for (size_t i = 0; i < d.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", d[i]);
        line += buf;
    }
    return line;
}

void SerializeKey(const RegKey& key, const std::string& path, bool isRoot, std::string* out) {
    if (!isRoot || !key.values.empty()) {
        *out += "[" + path + "]\n";
        for (const auto& v : key.values) *out += FormatValue(v) + "\n";
        *out += "\n";
    }
    for (const auto& child : key.subkeys) SerializeKey(*child, path + "\\" + child->name, false, out);
}
} // namespace

bool RegNameEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::vector<std::string> RegSplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

RegKey* RegKey::Child(const std::string& n) const {
    for (const auto& k : subkeys)
        if (RegNameEquals(k->name, n)) return k.get();
    return nullptr;
}

RegKey* RegKey::AddChild(const std::string& n) {
    if (RegKey* k = Child(n)) return k;
    subkeys.push_back(std::make_unique<RegKey>());
    subkeys.back()->name = n;
    return subkeys.back().get();
}

bool RegKey::RemoveChild(const std::string& n) {
    for (auto it = subkeys.begin(); it != subkeys.end(); ++it) {
        if (RegNameEquals((*it)->name, n)) {
            subkeys.erase(it);
            return true;
        }
    }
    return false;
}

RegValue* RegKey::Value(const std::string& n) {
    for (auto& v : values)
        if (RegNameEquals(v.name, n)) return &v;
    return nullptr;
}

void RegKey::SetValue(const std::string& n, DWORD type, const BYTE* data, size_t size) {
    RegValue* v = Value(n);
    if (!v) {
        values.push_back(RegValue{n, 0, {}});
        v = &values.back();
    }
    v->type = type;
    v->data.assign(data, data + size);
}

bool RegKey::RemoveValue(const std::string& n) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (RegNameEquals(it->name, n)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

RegTree::RegTree() {
    for (const char* r : kRoots) {
        m_roots.push_back(std::make_unique<RegKey>());
        m_roots.back()->name = r;
    }
}

RegKey* RegTree::Root(const std::string& name) const {
    for (const auto& r : m_roots)
        if (RegNameEquals(r->name, name)) return r.get();
    return nullptr;
}

RegKey* RegTree::Find(const std::string& path, bool create) {
    auto parts = RegSplitPath(path);
    if (parts.empty()) return nullptr;
    RegKey* key = Root(parts[0]);
    for (size_t i = 1; key && i < parts.size(); ++i) key = create ? key->AddChild(parts[i]) : key->Child(parts[i]);
    return key;
}

bool RegTree::Remove(const std::string& path) {
    auto parts = RegSplitPath(path);
    if (parts.size() < 2) return false; // roots stay
    std::string parent;
    for (size_t i = 0; i + 1 < parts.size(); ++i) parent += (i ? "\\" : "") + parts[i];
    RegKey* p = Find(parent, false);
    return p && p->RemoveChild(parts.back());
}

bool RegTree::Parse(const std::string& text, std::string* error) {
    std::vector<std::string> lines;
    std::string pending;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        line = Trim(line);
        if (!line.empty() && line.back() == '\\' && line.find('=') != std::string::npos) {
            pending += line.substr(0, line.size() - 1); // continued hex data
        } else {
            lines.push_back(pending + line);
            pending.clear();
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    RegKey* current = nullptr;
    int number = 0;
    for (const auto& line : lines) {
        ++number;
        auto fail = [&](const char* why) {
            if (error) *error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (line.empty() || line[0] == ';' || line == kHeader || line == "REGEDIT4") continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail("unterminated key name");
            std::string path = line.substr(1, line.size() - 2);
            if (!path.empty() && path[0] == '-') {
                Remove(path.substr(1));
                current = nullptr;
                continue;
            }
            current = Find(path, true);
            if (!current) return fail("unknown root key");
            continue;
        }
        if (!current) return fail("value outside a key");
        std::string name;
        size_t at = 0;
        if (line[0] == '@') at = 1;
        else if (!ReadQuoted(line, at, &name)) return fail("bad value name");
        if (at >= line.size() || line[at] != '=') return fail("missing '='");
        DWORD type = 0;
        std::vector<BYTE> data;
        bool remove = false;
        if (!ParseData(Trim(line.substr(at + 1)), &type, &data, &remove)) return fail("bad value data");
        if (remove) current->RemoveValue(name);
        else current->SetValue(name, type, data.data(), data.size());
    }
    return true;
}

std::string RegTree::Serialize() const {
    std::string out = std::string(kHeader) + "\n\n";
    for (const auto& r : m_roots) SerializeKey(*r, r->name, true, &out);
    return out;
}
