#include "platform/registry.h"

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

// Changes are read-modify-write of a whole file; one lock keeps two threads of
// this process from losing each other's values.
std::mutex storeLock;
std::atomic<unsigned> tempCounter{0};

struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

struct Location {
    std::string file;    // "<root>/.../<name>.reg"
    std::string folder;  // "<root>/.../<name>", the sub-keys
};

LONG FromErrno(int error, LONG fallback)
{
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

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// "a\b\c" → {"a","b","c"}; nullptr or "" → {}. Empty parts ("a\\b", "\a") name no key.
bool SplitKeyPath(const char* subKey, std::vector<std::string>& parts)
{
    if (!subKey || !*subKey)
        return true;
    std::string_view rest(subKey);
    for (;;) {
        size_t cut = rest.find('\\');
        std::string_view part = rest.substr(0, cut);
        if (part.empty())
            return false;
        parts.emplace_back(part);
        if (cut == std::string_view::npos)
            return true;
        rest.remove_prefix(cut + 1);
    }
}

// A key name becomes one file-system name: '/' and '%' are escaped, and so is
// every '.' of a name that would otherwise climb out of the store (".", "..") or
// collide with a key file ("x.reg").
std::string EncodeName(const std::string& name)
{
    bool dotsAreSpecial = name == "." || name == ".." ||
                          (name.size() >= 4 && name.compare(name.size() - 4, 4, ".reg") == 0);
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

Location Locate(const std::string& root, const std::vector<std::string>& path)
{
    std::string base = root;
    for (const std::string& part : path)
        base += '/' + EncodeName(part);
    return {base + ".reg", base};
}

// The root of a handle, resolved now for the predefined keys.
std::string RootOf(const RegistryKey* key)
{
    return key->predefined ? RegistryRootDirectory() : key->root;
}

bool IsFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool KeyExists(const Location& where, size_t depth)
{
    return depth <= 1 || Exists(where.file) || IsFolder(where.folder);
}

// ---- Reading the .reg text ------------------------------------------------

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void SkipBlanks(std::string_view& text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
}

// A quoted string with \\, \" and \xHH escapes; text starts after the opening quote.
bool ParseQuoted(std::string_view& text, std::string& out)
{
    while (!text.empty()) {
        char c = text.front();
        text.remove_prefix(1);
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (text.empty())
            return false;
        char e = text.front();
        text.remove_prefix(1);
        if (e == '\\' || e == '"') {
            out += e;
        } else if (e == 'x' && text.size() >= 2 && HexDigit(text[0]) >= 0 && HexDigit(text[1]) >= 0) {
            out += static_cast<char>(HexDigit(text[0]) * 16 + HexDigit(text[1]));
            text.remove_prefix(2);
        } else {
            return false;
        }
    }
    return false;
}

bool ParseHexNumber(std::string_view& text, DWORD& out)
{
    int count = 0;
    out = 0;
    while (!text.empty() && HexDigit(text.front()) >= 0) {
        if (++count > 8)
            return false;
        out = out * 16 + static_cast<DWORD>(HexDigit(text.front()));
        text.remove_prefix(1);
    }
    return count > 0;
}

// "00,39,40" with blanks around the commas and "\" at the end of a line to
// continue on the next one, as long exports are wrapped.
bool ParseHexBytes(std::string_view text, const std::vector<std::string_view>& lines, size_t& next,
                   std::vector<BYTE>& out)
{
    bool wantByte = true;  // after a comma a byte must follow
    bool first = true;
    for (;;) {
        SkipBlanks(text);
        if (text.empty())
            return first || !wantByte;
        if (text.front() == '\\') {
            text.remove_prefix(1);
            SkipBlanks(text);
            if (!text.empty() || next >= lines.size())
                return false;
            text = lines[next++];
            continue;
        }
        if (!wantByte) {
            if (text.front() != ',')
                return false;
            text.remove_prefix(1);
            wantByte = true;
            continue;
        }
        if (text.size() < 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0)
            return false;
        out.push_back(static_cast<BYTE>(HexDigit(text[0]) * 16 + HexDigit(text[1])));
        text.remove_prefix(2);
        wantByte = false;
        first = false;
    }
}

// One value line (or several, when its bytes continue); false when it is not one.
bool ParseValue(const std::vector<std::string_view>& lines, size_t& next, Value& value)
{
    std::string_view text = lines[next++];
    SkipBlanks(text);
    if (text.empty())
        return false;
    if (text.front() == '@') {
        text.remove_prefix(1);
    } else if (text.front() == '"') {
        text.remove_prefix(1);
        if (!ParseQuoted(text, value.name))
            return false;
    } else {
        return false;
    }
    SkipBlanks(text);
    if (text.empty() || text.front() != '=')
        return false;
    text.remove_prefix(1);
    SkipBlanks(text);

    if (!text.empty() && text.front() == '"') {
        text.remove_prefix(1);
        std::string s;
        if (!ParseQuoted(text, s))
            return false;
        SkipBlanks(text);
        if (!text.empty())
            return false;
        value.type = REG_SZ;
        value.data.assign(s.begin(), s.end());
        value.data.push_back(0);
        return true;
    }
    if (text.substr(0, 6) == "dword:") {
        text.remove_prefix(6);
        DWORD number;
        if (!ParseHexNumber(text, number))
            return false;
        SkipBlanks(text);
        if (!text.empty())
            return false;
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
        return true;
    }
    if (text.substr(0, 4) == "hex:") {
        text.remove_prefix(4);
        value.type = REG_BINARY;
        return ParseHexBytes(text, lines, next, value.data);
    }
    if (text.substr(0, 4) == "hex(") {
        text.remove_prefix(4);
        if (!ParseHexNumber(text, value.type) || text.substr(0, 2) != "):")
            return false;
        text.remove_prefix(2);
        return ParseHexBytes(text, lines, next, value.data);
    }
    return false;
}

void SetValue(std::vector<Value>& values, Value&& value)
{
    for (Value& old : values) {
        if (EqualNoCase(old.name, value.name)) {
            old.type = value.type;
            old.data = std::move(value.data);
            return;
        }
    }
    values.push_back(std::move(value));
}

// The file is the key: its header and the version line are for people; every
// value line counts, a later one replacing an earlier one of the same name, and
// a line that isn't a value is skipped.
std::vector<Value> ParseKeyText(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t cut = text.find('\n');
        std::string_view line = text.substr(0, cut);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (cut == std::string_view::npos)
            break;
        text.remove_prefix(cut + 1);
    }
    std::vector<Value> values;
    for (size_t next = 0; next < lines.size();) {
        Value value{{}, REG_NONE, {}};
        if (ParseValue(lines, next, value))
            SetValue(values, std::move(value));
    }
    return values;
}

// Reads the key's values. A missing file is no values (exists false); a file
// that can't be read is an error.
LONG ReadKeyFile(const std::string& file, std::vector<Value>& values, bool& exists)
{
    exists = false;
    values.clear();
    // Non-blocking, so a FIFO left in the store can't hang the program.
    int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return ERROR_SUCCESS;
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
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            int error = errno;
            close(fd);
            return FromErrno(error, ERROR_CANTREAD);
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > static_cast<size_t>(maxKeyFileBytes)) {
            close(fd);
            return ERROR_CANTREAD;
        }
    }
    close(fd);
    values = ParseKeyText(text);
    return ERROR_SUCCESS;
}

// ---- Writing the .reg text ------------------------------------------------

void AppendQuoted(std::string& out, const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string FormatKeyText(const std::vector<std::string>& path, const std::vector<Value>& values)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "Windows Registry Editor Version 5.00\n\n[";
    for (size_t i = 0; i < path.size(); ++i) {
        if (i)
            out += '\\';
        // The header only tells a reader which key this is; a line break in a
        // key name must not turn into a value line of its own.
        for (char c : path[i]) {
            unsigned char u = static_cast<unsigned char>(c);
            out += (u < 0x20 || u == 0x7F) ? '?' : c;
        }
    }
    out += "]\n";
    for (const Value& value : values) {
        if (value.name.empty())
            out += '@';
        else
            AppendQuoted(out, value.name);
        // Always bytes, never dword: or a string: that way every value comes
        // back exactly as stored, whatever its type and length.
        if (value.type == REG_BINARY) {
            out += "=hex:";
        } else {
            out += "=hex(";
            char number[16];
            std::snprintf(number, sizeof number, "%x", value.type);
            out += number;
            out += "):";
        }
        for (size_t i = 0; i < value.data.size(); ++i) {
            if (i)
                out += ',';
            out += digits[value.data[i] >> 4];
            out += digits[value.data[i] & 15];
        }
        out += '\n';
    }
    return out;
}

std::string FolderOf(const std::string& file)
{
    size_t cut = file.rfind('/');
    return cut == std::string::npos ? std::string(".") : (cut == 0 ? std::string("/") : file.substr(0, cut));
}

// Writes a temporary file beside the target, flushes it and renames it over the
// target: readers see the old file or the new one, never a mixture.
LONG ReplaceFile(const std::string& file, const std::string& text)
{
    std::string folder = FolderOf(file);
    // A short hidden name beside the target, so a key name near the length
    // limit still leaves room for it; O_EXCL never reuses a stale one.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = folder + "/.reg-" + std::to_string(getpid()) + "-" + std::to_string(tempCounter++) + ".new";
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return FromErrno(errno, ERROR_CANTWRITE);
    }
    if (fd < 0)
        return ERROR_CANTWRITE;
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t put = write(fd, data, left);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            int error = put < 0 ? errno : ENOSPC;
            close(fd);
            unlink(temp.c_str());
            return FromErrno(error, ERROR_CANTWRITE);
        }
        data += put;
        left -= static_cast<size_t>(put);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        int error = errno;
        unlink(temp.c_str());
        return FromErrno(error, ERROR_CANTWRITE);
    }
    if (rename(temp.c_str(), file.c_str()) != 0) {
        int error = errno;
        unlink(temp.c_str());
        return FromErrno(error, ERROR_CANTWRITE);
    }
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return ERROR_SUCCESS;
}

LONG MakeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0777) == 0)
        return ERROR_SUCCESS;
    if (errno == EEXIST)
        return IsFolder(path) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
    return FromErrno(errno, ERROR_CANTWRITE);
}

LONG MakeFolders(const std::string& path)
{
    for (size_t cut = path.find('/', 1); cut != std::string::npos; cut = path.find('/', cut + 1)) {
        std::string prefix = path.substr(0, cut);
        if (!IsFolder(prefix)) {
            LONG status = MakeFolder(prefix);
            if (status != ERROR_SUCCESS)
                return status;
        }
    }
    return MakeFolder(path);
}

// A handle asking to set values needs a key whose file can be replaced, as the
// registry refuses write access up front rather than at the first write.
LONG CheckWriteAccess(const Location& where, REGSAM desired)
{
    if (!(desired & KEY_SET_VALUE))
        return ERROR_SUCCESS;
    std::string folder = FolderOf(where.file);
    if (access(folder.c_str(), W_OK) == 0 || errno == ENOENT)
        return ERROR_SUCCESS;
    return FromErrno(errno, ERROR_ACCESS_DENIED);
}

// The key a handle and a sub-key path name; false for a path no key can have.
bool Resolve(HKEY key, const char* subKey, std::string& root, std::vector<std::string>& path)
{
    root = RootOf(key);
    path = key->path;
    return !root.empty() && SplitKeyPath(subKey, path);
}

}  // namespace

HKEY const HKEY_CURRENT_USER = &currentUserKey;
HKEY const HKEY_LOCAL_MACHINE = &localMachineKey;

std::string RegistryRootDirectory()
{
    const char* dir = std::getenv("TAVRICK_REGISTRY_DIR");
    if (dir && *dir) {
        // A handle keeps its root: a relative one must not move with the current folder.
        if (dir[0] == '/')
            return dir;
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
    if (!home || !*home)
        return {};
    return std::string(home) + "/.config/tavrick/registry";
}

std::string RegistryKeyFile(HKEY key, const char* subKey)
{
    std::string root;
    std::vector<std::string> path;
    if (!key || !Resolve(key, subKey, root, path))
        return {};
    return Locate(root, path).file;
}

// The argument checks and the key lookup that opening and creating share.
static LONG BeginKeyCall(HKEY key, const char* subKey, HKEY* result, std::string& root,
                         std::vector<std::string>& path)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (!Resolve(key, subKey, root, path))
        return root.empty() ? ERROR_PATH_NOT_FOUND : ERROR_BADKEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM desired, HKEY* result)
{
    std::string root;
    std::vector<std::string> path;
    if (LONG status = BeginKeyCall(key, subKey, result, root, path); status != ERROR_SUCCESS)
        return status;
    Location where = Locate(root, path);
    std::vector<Value> values;
    bool fileExists;
    LONG status = ReadKeyFile(where.file, values, fileExists);
    if (status != ERROR_SUCCESS)
        return status;
    if (!fileExists && !KeyExists(where, path.size()))
        return ERROR_FILE_NOT_FOUND;
    status = CheckWriteAccess(where, desired);
    if (status != ERROR_SUCCESS)
        return status;
    *result = new RegistryKey{root, path, desired, false};
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM desired, const void*,
                     HKEY* result, DWORD* disposition)
{
    std::string root;
    std::vector<std::string> path;
    if (LONG status = BeginKeyCall(key, subKey, result, root, path); status != ERROR_SUCCESS)
        return status;
    Location where = Locate(root, path);

    std::lock_guard<std::mutex> hold(storeLock);
    std::vector<Value> values;
    bool fileExists;
    LONG status = ReadKeyFile(where.file, values, fileExists);
    if (status != ERROR_SUCCESS)
        return status;
    bool created = false;
    if (!fileExists && !KeyExists(where, path.size())) {
        status = MakeFolders(FolderOf(where.file));
        if (status == ERROR_SUCCESS)
            status = ReplaceFile(where.file, FormatKeyText(path, {}));
        if (status != ERROR_SUCCESS)
            return status;
        created = true;
    } else {
        status = CheckWriteAccess(where, desired);
        if (status != ERROR_SUCCESS)
            return status;
    }
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = new RegistryKey{root, path, desired, false};
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size)
{
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (reserved || (data && !size))
        return ERROR_INVALID_PARAMETER;
    if (!(key->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string root = RootOf(key);
    if (root.empty())
        return ERROR_PATH_NOT_FOUND;
    Location where = Locate(root, key->path);
    std::vector<Value> values;
    bool fileExists;
    LONG status = ReadKeyFile(where.file, values, fileExists);
    if (status != ERROR_SUCCESS)
        return status;
    if (!fileExists && !KeyExists(where, key->path.size()))
        return ERROR_KEY_DELETED;
    std::string_view wanted = name ? name : "";
    for (const Value& value : values) {
        if (!EqualNoCase(value.name, wanted))
            continue;
        if (type)
            *type = value.type;
        DWORD length = static_cast<DWORD>(value.data.size());
        if (data && *size < length) {
            *size = length;
            return ERROR_MORE_DATA;
        }
        if (data && length)
            std::memcpy(data, value.data.data(), length);
        if (size)
            *size = length;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (reserved || (!data && size))
        return ERROR_INVALID_PARAMETER;
    if (!(key->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string root = RootOf(key);
    if (root.empty())
        return ERROR_PATH_NOT_FOUND;
    Location where = Locate(root, key->path);

    std::lock_guard<std::mutex> hold(storeLock);
    std::vector<Value> values;
    bool fileExists;
    LONG status = ReadKeyFile(where.file, values, fileExists);
    if (status != ERROR_SUCCESS)
        return status;
    if (!fileExists && !KeyExists(where, key->path.size()))
        return ERROR_KEY_DELETED;
    SetValue(values, Value{name ? name : "", type, std::vector<BYTE>(data, data + size)});
    std::string text = FormatKeyText(key->path, values);
    if (text.size() > static_cast<size_t>(maxKeyFileBytes))
        return ERROR_INVALID_PARAMETER;
    if (key->path.size() <= 1) {
        status = MakeFolders(root);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ReplaceFile(where.file, text);
}

LONG RegDeleteKeyA(HKEY key, const char* subKey)
{
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (!subKey || !*subKey)
        return ERROR_INVALID_PARAMETER;
    std::string root;
    std::vector<std::string> path;
    if (!Resolve(key, subKey, root, path))
        return root.empty() ? ERROR_PATH_NOT_FOUND : ERROR_BADKEY;
    Location where = Locate(root, path);

    std::lock_guard<std::mutex> hold(storeLock);
    bool hasFile = Exists(where.file);
    bool hasFolder = IsFolder(where.folder);
    if (!hasFile && !hasFolder)
        return ERROR_FILE_NOT_FOUND;
    if (hasFolder) {
        // A key with sub-keys stays, as the registry refuses to delete it.
        DIR* dir = opendir(where.folder.c_str());
        if (!dir)
            return FromErrno(errno, ERROR_ACCESS_DENIED);
        bool empty = true;
        while (struct dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                empty = false;
                break;
            }
        }
        closedir(dir);
        if (!empty)
            return ERROR_ACCESS_DENIED;
    }
    if (hasFile && unlink(where.file.c_str()) != 0)
        return FromErrno(errno, ERROR_ACCESS_DENIED);
    if (hasFolder && rmdir(where.folder.c_str()) != 0)
        return FromErrno(errno, ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (!key->predefined)
        delete key;
    return ERROR_SUCCESS;
}
