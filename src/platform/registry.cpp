// The registry API over the .reg store. Every call loads the store under a file lock, and a call that
// changes it writes a temporary file and renames it over the store, so that writers in several
// processes never lose each other's changes and a reader never sees half a file.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "reg_store.h"
#include "winreg.h"

struct RegHandle {
    std::string path; // "HKEY_...\sub\key"
    REGSAM sam;
};

namespace {
std::string StorePath() {
    if (const char* p = std::getenv("OGGSOURCE_REGISTRY"); p && *p) return p;
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) base = x;
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.config";
    else base = "/tmp";
    return base + "/oggsource/registry.reg";
}

void MakeParents(const std::string& file) {
    for (size_t at = file.find('/', 1); at != std::string::npos; at = file.find('/', at + 1))
        mkdir(file.substr(0, at).c_str(), 0755);
}

// Tests stand for a process without the rights to change a root: OGGSOURCE_REGISTRY_DENY names the roots
// ("HKEY_LOCAL_MACHINE", several separated by commas) whose keys it may read but not create, change or delete.
bool Denied(const std::string& path) {
    const char* denied = std::getenv("OGGSOURCE_REGISTRY_DENY");
    if (!denied || !*denied) return false;
    const std::string root = path.substr(0, path.find('\\'));
    const std::string list = std::string(",") + denied + ",";
    return list.find("," + root + ",") != std::string::npos;
}

LONG FromErrno() { return errno == EACCES || errno == EPERM || errno == EROFS ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND; }

// One locked use of the store: load, let the caller work, save when it changed something.
class Session {
public:
    explicit Session(bool write) : m_path(StorePath()), m_write(write) {
        MakeParents(m_path);
        m_lockFd = open((m_path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_lockFd < 0) {
            m_error = FromErrno();
            return;
        }
        while (flock(m_lockFd, write ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
        }
        Load();
    }
    ~Session() {
        if (m_lockFd >= 0) close(m_lockFd); // releases the lock
    }
    LONG Error() const { return m_error; }
    RegTree& Tree() { return m_tree; }

    LONG Save() {
        if (!m_write) return ERROR_ACCESS_DENIED;
        std::string text = m_tree.Serialize();
        std::string tmp = m_path + ".tmp." + std::to_string(getpid());
        int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return FromErrno();
        bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
        ok = (close(fd) == 0) && ok;
        if (!ok || rename(tmp.c_str(), m_path.c_str()) != 0) {
            unlink(tmp.c_str());
            return ERROR_ACCESS_DENIED;
        }
        return ERROR_SUCCESS;
    }

private:
    void Load() {
        int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return; // no store yet: an empty registry
        std::string text;
        char buf[65536];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        close(fd);
        // A damaged store reads as far as it parses; what follows the bad line is ignored.
        m_tree.Parse(text, nullptr);
    }

    std::string m_path;
    bool m_write;
    int m_lockFd = -1;
    LONG m_error = ERROR_SUCCESS;
    RegTree m_tree;
};

const char* RootName(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    return nullptr;
}

// The full path of key\subKey; false for a handle that is not a key.
bool FullPath(HKEY key, LPCSTR subKey, std::string* out) {
    if (!key) return false;
    const char* root = RootName(key);
    *out = root ? std::string(root) : key->path;
    if (subKey && *subKey) *out += std::string("\\") + subKey;
    return true;
}

LONG NewHandle(const std::string& path, REGSAM sam, PHKEY result) {
    RegHandle* h = new (std::nothrow) RegHandle;
    if (!h) return ERROR_NOT_ENOUGH_MEMORY;
    h->path = path;
    h->sam = sam;
    *result = h;
    return ERROR_SUCCESS;
}

// Copies a value out the way RegQueryValueEx does: size only, ERROR_MORE_DATA, or the data.
LONG CopyOut(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    if (type) *type = v.type;
    DWORD need = static_cast<DWORD>(v.data.size());
    if (!cbData) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *cbData = need;
        return ERROR_SUCCESS;
    }
    if (*cbData < need) {
        *cbData = need;
        return ERROR_MORE_DATA;
    }
    if (need) std::memcpy(data, v.data.data(), need);
    *cbData = need;
    return ERROR_SUCCESS;
}

template <class F> LONG Guard(F&& f) {
    try {
        return f();
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
} // namespace

extern "C" LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM sam, void*, PHKEY result,
                                LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    if (subKey && subKey[0] == '\\') return ERROR_BAD_PATHNAME; // as Windows: a subkey is relative
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, subKey, &path)) return ERROR_INVALID_HANDLE;
        if (Denied(path)) return ERROR_ACCESS_DENIED;
        Session s(true);
        if (s.Error()) return s.Error();
        if (!RootName(key) && !s.Tree().Find(key->path, false)) return ERROR_KEY_DELETED;
        bool existed = s.Tree().Find(path, false) != nullptr;
        if (!existed) {
            if (!s.Tree().Find(path, true)) return ERROR_FILE_NOT_FOUND;
            if (LONG e = s.Save()) return e;
        }
        if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        return NewHandle(path, sam, result);
    });
}

extern "C" LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, subKey, &path)) return ERROR_INVALID_HANDLE;
        Session s(false);
        if (s.Error()) return s.Error();
        if (!s.Tree().Find(path, false)) return ERROR_FILE_NOT_FOUND;
        return NewHandle(path, sam, result);
    });
}

extern "C" LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, nullptr, &path)) return ERROR_INVALID_HANDLE;
        Session s(false);
        if (s.Error()) return s.Error();
        RegKey* k = s.Tree().Find(path, false);
        if (!k) return ERROR_KEY_DELETED;
        RegValue* v = k->Value(name ? name : "");
        if (!v) return ERROR_FILE_NOT_FOUND;
        return CopyOut(*v, type, data, cbData);
    });
}

extern "C" LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, PLONG cbData) {
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, subKey, &path)) return ERROR_INVALID_HANDLE;
        Session s(false);
        if (s.Error()) return s.Error();
        RegKey* k = s.Tree().Find(path, false);
        if (!k) return ERROR_FILE_NOT_FOUND;
        // A default value that was never set reads as an empty string.
        RegValue empty{"", REG_SZ, {0}};
        RegValue* v = k->Value("");
        if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) v = &empty;
        DWORD cb = cbData ? static_cast<DWORD>(*cbData) : 0;
        LONG r = CopyOut(*v, nullptr, reinterpret_cast<LPBYTE>(data), cbData ? &cb : nullptr);
        if (cbData) *cbData = static_cast<LONG>(cb);
        return r;
    });
}

extern "C" LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
    if (!data && cbData) return ERROR_INVALID_PARAMETER;
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, nullptr, &path)) return ERROR_INVALID_HANDLE;
        if (!RootName(key) && !(key->sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        if (Denied(path)) return ERROR_ACCESS_DENIED;
        Session s(true);
        if (s.Error()) return s.Error();
        RegKey* k = s.Tree().Find(path, false);
        if (!k) return ERROR_KEY_DELETED;
        k->SetValue(name ? name : "", type, data, cbData);
        return s.Save();
    });
}

extern "C" LONG RegDeleteTreeA(HKEY key, LPCSTR subKey) {
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, subKey, &path)) return ERROR_INVALID_HANDLE;
        if (Denied(path)) return ERROR_ACCESS_DENIED;
        Session s(true);
        if (s.Error()) return s.Error();
        RegKey* k = s.Tree().Find(path, false);
        if (!k) return ERROR_FILE_NOT_FOUND;
        if (subKey && *subKey) s.Tree().Remove(path);
        else { // without a subkey, the key itself stays and loses its values and subkeys
            k->values.clear();
            k->subkeys.clear();
        }
        return s.Save();
    });
}

extern "C" LONG RegDeleteKeyValueA(HKEY key, LPCSTR subKey, LPCSTR name) {
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, subKey, &path)) return ERROR_INVALID_HANDLE;
        if (Denied(path)) return ERROR_ACCESS_DENIED;
        Session s(true);
        if (s.Error()) return s.Error();
        RegKey* k = s.Tree().Find(path, false);
        if (!k) return ERROR_FILE_NOT_FOUND;
        if (!k->RemoveValue(name ? name : "")) return ERROR_FILE_NOT_FOUND;
        return s.Save();
    });
}

extern "C" LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD, LPSTR, LPDWORD,
                              void*) {
    if (!name || !cchName) return ERROR_INVALID_PARAMETER;
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, nullptr, &path)) return ERROR_INVALID_HANDLE;
        Session s(false);
        RegKey* k = s.Tree().Find(path, false);
        if (!k) return ERROR_KEY_DELETED;
        if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
        const std::string& n = k->subkeys[index]->name;
        if (*cchName <= n.size()) return ERROR_MORE_DATA;
        std::memcpy(name, n.c_str(), n.size() + 1);
        *cchName = static_cast<DWORD>(n.size());
        return ERROR_SUCCESS;
    });
}

extern "C" LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD, LPDWORD type,
                              LPBYTE data, LPDWORD cbData) {
    if (!name || !cchName) return ERROR_INVALID_PARAMETER;
    return Guard([&]() -> LONG {
        std::string path;
        if (!FullPath(key, nullptr, &path)) return ERROR_INVALID_HANDLE;
        Session s(false);
        RegKey* k = s.Tree().Find(path, false);
        if (!k) return ERROR_KEY_DELETED;
        if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
        const RegValue& v = k->values[index];
        if (*cchName <= v.name.size()) return ERROR_MORE_DATA;
        std::memcpy(name, v.name.c_str(), v.name.size() + 1);
        *cchName = static_cast<DWORD>(v.name.size());
        return CopyOut(v, type, data, cbData);
    });
}

extern "C" LONG RegCloseKey(HKEY key) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!RootName(key)) delete key;
    return ERROR_SUCCESS;
}

extern "C" const char* PlatRegistryPath() {
    static thread_local std::string path;
    path = StorePath();
    return path.c_str();
}
