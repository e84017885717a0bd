#include "platform/registry.h"

#include "platform/atomic_file.h"
#include "platform/reg_text.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct RegistryKey {
    std::string root;               // empty for the predefined keys: resolved per call
    std::vector<std::string> path;  // "HKEY_LOCAL_MACHINE", "Software", ...
    REGSAM access;
    bool predefined;
};

namespace {

RegistryKey currentUserKey{{}, {"HKEY_CURRENT_USER"}, KEY_READ | KEY_WRITE, true};
RegistryKey localMachineKey{{}, {"HKEY_LOCAL_MACHINE"}, KEY_READ | KEY_WRITE, true};

// A key file larger than this is not ours: refuse it instead of reading it all.
constexpr off_t maxKeyFileBytes = 64 << 20;
// The registry's own bound for one value in its standard format. A larger
// value read from a file (a hand-edited store) is skipped like a line that
// isn't a value, so the next save, which writes every value as three
// characters a byte, can't grow the file past what a read accepts.
constexpr size_t maxValueBytes = 1 << 20;

// Changes are read-modify-write of a whole file; one lock keeps two threads of
// this process from losing each other's values, and an flock on the store's
// lock file two processes.
std::mutex storeLock;

// Holds the store's lock file, "<root>/.lock", locked while it lives. A store
// whose root doesn't exist yet, or where the file can't be made, is changed
// without it: the change itself then fails or is the first one.
struct StoreFileLock {
    int fd = -1;
    explicit StoreFileLock(const std::string& root) {
        fd = open((root + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        while (fd >= 0 && flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~StoreFileLock() {
        if (fd >= 0) close(fd);
    }
    StoreFileLock(const StoreFileLock&) = delete;
    StoreFileLock& operator=(const StoreFileLock&) = delete;
};

using Value = RegistryValue;

struct Location {
    std::string file;    // "<root>/.../<name>.reg"
    std::string folder;  // "<root>/.../<name>", the sub-keys
};

LONG FromErrno(int error, LONG fallback) {
    switch (error) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return ERROR_DISK_FULL;
        default: return fallback;
    }
}

// "a\b\c" → {"a","b","c"}; nullptr or "" → {}. Empty parts ("a\\b", "\a") name no key.
bool SplitKeyPath(const char* subKey, std::vector<std::string>& parts) {
    if (!subKey || !*subKey) return true;
    std::string_view rest(subKey);
    for (;;) {
        size_t cut = rest.find('\\');
        std::string_view part = rest.substr(0, cut);
        if (part.empty()) return false;
        parts.emplace_back(part);
        if (cut == std::string_view::npos) return true;
        rest.remove_prefix(cut + 1);
    }
}

// A key name becomes one file-system name: '/' and '%' are escaped, and so is
// every '.' of a name that would otherwise climb out of the store (".", "..") or
// collide with a key file ("x.reg").
std::string EncodeName(const std::string& name) {
    bool dotsAreSpecial =
        name == "." || name == ".." || (name.size() >= 4 && name.compare(name.size() - 4, 4, ".reg") == 0);
    std::string out;
    for (char c : name) {
        if (c == '/' || c == '%' || (c == '.' && dotsAreSpecial)) {
            static const char digits[] = "0123456789ABCDEF";
            out += '%';
            out += digits[static_cast<unsigned char>(c) >> 4];
            out += digits[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
}

Location Locate(const std::string& root, const std::vector<std::string>& path) {
    std::string base = root;
    for (const std::string& part : path) base += '/' + EncodeName(part);
    return {base + ".reg", base};
}

// The root of a handle, resolved now for the predefined keys.
std::string RootOf(const RegistryKey* key) { return key->predefined ? RegistryRootDirectory() : key->root; }

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool KeyExists(const Location& where, size_t depth) {
    return depth <= 1 || Exists(where.file) || IsFolder(where.folder);
}

// Reads the key's values. A missing file is no values (exists false); a file
// that can't be read is an error.
LONG ReadKeyFile(const std::string& file, std::vector<Value>& values, bool& exists) {
    exists = false;
    values.clear();
    // Non-blocking, so a FIFO left in the store can't hang the program.
    int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return ERROR_SUCCESS;
        return FromErrno(errno, ERROR_CANTREAD);
    }
    exists = true;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxKeyFileBytes) {
        close(fd);
        return ERROR_CANTREAD;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            int error = errno;
            close(fd);
            return FromErrno(error, ERROR_CANTREAD);
        }
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > static_cast<size_t>(maxKeyFileBytes)) {
            close(fd);
            return ERROR_CANTREAD;
        }
    }
    close(fd);
    values = ParseKeyText(text);
    std::erase_if(values, [](const Value& value) { return value.data.size() > maxValueBytes; });
    return ERROR_SUCCESS;
}

LONG WriteKeyFile(const std::string& file, const std::string& text) {
    if (int error = ReplaceFileAtomically(file, text)) return FromErrno(error, ERROR_CANTWRITE);
    return ERROR_SUCCESS;
}

LONG MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) return ERROR_SUCCESS;
    if (errno == EEXIST) return IsFolder(path) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
    return FromErrno(errno, ERROR_CANTWRITE);
}

LONG MakeFolders(const std::string& path) {
    for (size_t cut = path.find('/', 1); cut != std::string::npos; cut = path.find('/', cut + 1)) {
        std::string prefix = path.substr(0, cut);
        if (!IsFolder(prefix)) {
            LONG status = MakeFolder(prefix);
            if (status != ERROR_SUCCESS) return status;
        }
    }
    return MakeFolder(path);
}

// A handle asking to set values needs a key whose file can be replaced, as the
// registry refuses write access up front rather than at the first write.
LONG CheckWriteAccess(const Location& where, REGSAM desired) {
    if (!(desired & KEY_SET_VALUE)) return ERROR_SUCCESS;
    std::string folder = FolderOf(where.file);
    if (access(folder.c_str(), W_OK) == 0 || errno == ENOENT) return ERROR_SUCCESS;
    return FromErrno(errno, ERROR_ACCESS_DENIED);
}

// The key a handle and a sub-key path name; false for a path no key can have.
bool Resolve(HKEY key, const char* subKey, std::string& root, std::vector<std::string>& path) {
    root = RootOf(key);
    path = key->path;
    return !root.empty() && SplitKeyPath(subKey, path);
}

}  // namespace

HKEY const HKEY_CURRENT_USER = &currentUserKey;
HKEY const HKEY_LOCAL_MACHINE = &localMachineKey;

std::string RegistryRootDirectory() {
    const char* dir = std::getenv("TAVRICK_REGISTRY_DIR");
    if (dir && *dir) {
        // A handle keeps its root: a relative one must not move with the current folder.
        if (dir[0] == '/') return dir;
        char here[4096];
        return getcwd(here, sizeof here) ? std::string(here) + "/" + dir : std::string();
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')  // a relative value is invalid and ignored
        return std::string(config) + "/tavrick/registry";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        struct passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || !*home) return {};
    return std::string(home) + "/.config/tavrick/registry";
}

std::string RegistryKeyFile(HKEY key, const char* subKey) {
    std::string root;
    std::vector<std::string> path;
    if (!key || !Resolve(key, subKey, root, path)) return {};
    return Locate(root, path).file;
}

// The argument checks and the key lookup that opening and creating share.
static LONG BeginKeyCall(HKEY key, const char* subKey, HKEY* result, std::string& root,
                         std::vector<std::string>& path) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!key) return ERROR_INVALID_HANDLE;
    if (!Resolve(key, subKey, root, path)) return root.empty() ? ERROR_PATH_NOT_FOUND : ERROR_BADKEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM desired, HKEY* result) {
    std::string root;
    std::vector<std::string> path;
    if (LONG status = BeginKeyCall(key, subKey, result, root, path); status != ERROR_SUCCESS) return status;
    Location where = Locate(root, path);
    std::vector<Value> values;
    bool fileExists;
    LONG status = ReadKeyFile(where.file, values, fileExists);
    if (status != ERROR_SUCCESS) return status;
    if (!fileExists && !KeyExists(where, path.size())) return ERROR_FILE_NOT_FOUND;
    status = CheckWriteAccess(where, desired);
    if (status != ERROR_SUCCESS) return status;
    *result = new RegistryKey{root, path, desired, false};
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM desired, const void*, HKEY* result,
                     DWORD* disposition) {
    std::string root;
    std::vector<std::string> path;
    if (LONG status = BeginKeyCall(key, subKey, result, root, path); status != ERROR_SUCCESS) return status;
    Location where = Locate(root, path);

    std::lock_guard<std::mutex> hold(storeLock);
    const StoreFileLock holdStore(root);
    std::vector<Value> values;
    bool fileExists;
    LONG status = ReadKeyFile(where.file, values, fileExists);
    if (status != ERROR_SUCCESS) return status;
    bool created = false;
    if (!fileExists && !KeyExists(where, path.size())) {
        status = MakeFolders(FolderOf(where.file));
        if (status == ERROR_SUCCESS) status = WriteKeyFile(where.file, FormatKeyText(path, {}));
        if (status != ERROR_SUCCESS) return status;
        created = true;
    } else {
        status = CheckWriteAccess(where, desired);
        if (status != ERROR_SUCCESS) return status;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = new RegistryKey{root, path, desired, false};
    return ERROR_SUCCESS;
}

// What querying and setting a value share: the handle's access, its key's
// location and the values the key holds now.
static LONG ReadValuesOf(HKEY key, REGSAM needed, std::string& root, Location& where, std::vector<Value>& values) {
    if (!(key->access & needed)) return ERROR_ACCESS_DENIED;
    root = RootOf(key);
    if (root.empty()) return ERROR_PATH_NOT_FOUND;
    where = Locate(root, key->path);
    bool fileExists;
    LONG status = ReadKeyFile(where.file, values, fileExists);
    if (status != ERROR_SUCCESS) return status;
    if (!fileExists && !KeyExists(where, key->path.size())) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    std::string root;
    Location where;
    std::vector<Value> values;
    LONG status = ReadValuesOf(key, KEY_QUERY_VALUE, root, where, values);
    if (status != ERROR_SUCCESS) return status;
    std::string_view wanted = name ? name : "";
    for (const Value& value : values) {
        if (!EqualNoCase(value.name, wanted)) continue;
        if (type) *type = value.type;
        DWORD length = static_cast<DWORD>(value.data.size());
        if (data && *size < length) {
            *size = length;
            return ERROR_MORE_DATA;
        }
        if (data && length) std::memcpy(data, value.data.data(), length);
        if (size) *size = length;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (reserved || (!data && size) || size > maxValueBytes) return ERROR_INVALID_PARAMETER;
    // Read, change and rewrite under one lock, for threads and processes alike.
    std::lock_guard<std::mutex> hold(storeLock);
    const StoreFileLock holdStore(RootOf(key));
    std::string root;
    Location where;
    std::vector<Value> values;
    LONG status = ReadValuesOf(key, KEY_SET_VALUE, root, where, values);
    if (status != ERROR_SUCCESS) return status;
    SetValue(values, Value{name ? name : "", type, std::vector<BYTE>(data, data + size)});
    std::string text = FormatKeyText(key->path, values);
    if (text.size() > static_cast<size_t>(maxKeyFileBytes)) return ERROR_INVALID_PARAMETER;
    if (key->path.size() <= 1) {
        status = MakeFolders(root);
        if (status != ERROR_SUCCESS) return status;
    }
    return WriteKeyFile(where.file, text);
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
    std::string root;
    std::vector<std::string> path;
    if (!Resolve(key, subKey, root, path)) return root.empty() ? ERROR_PATH_NOT_FOUND : ERROR_BADKEY;
    Location where = Locate(root, path);

    std::lock_guard<std::mutex> hold(storeLock);
    const StoreFileLock holdStore(root);
    bool hasFile = Exists(where.file);
    bool hasFolder = IsFolder(where.folder);
    if (!hasFile && !hasFolder) return ERROR_FILE_NOT_FOUND;
    if (hasFolder) {
        // A key with sub-keys stays, as the registry refuses to delete it.
        DIR* dir = opendir(where.folder.c_str());
        if (!dir) return FromErrno(errno, ERROR_ACCESS_DENIED);
        bool empty = true;
        while (struct dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                empty = false;
                break;
            }
        }
        closedir(dir);
        if (!empty) return ERROR_ACCESS_DENIED;
    }
    if (hasFile && unlink(where.file.c_str()) != 0) return FromErrno(errno, ERROR_ACCESS_DENIED);
    if (hasFolder && rmdir(where.folder.c_str()) != 0) return FromErrno(errno, ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (!key) return ERROR_INVALID_HANDLE;
    if (!key->predefined) delete key;
    return ERROR_SUCCESS;
}
