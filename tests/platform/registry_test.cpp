#include "platform/registry.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_store.h"

namespace fs = std::filesystem;

namespace {

const char tavrickKey[] = "Software\\Norvane Software\\Tavrick";

class RegistryTest : public TempStoreTest {
protected:
    std::string KeyFile(const char* subKey = tavrickKey) {
        return root + "/HKEY_LOCAL_MACHINE/" + Unslash(subKey) + ".reg";
    }
    static std::string Unslash(std::string path) {
        for (char& c : path)
            if (c == '\\') c = '/';
        return path;
    }

    HKEY Create(const char* subKey = tavrickKey, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                  nullptr, &key, disposition),
                  ERROR_SUCCESS);
        return key;
    }
    static LONG Open(const char* subKey, HKEY* key, REGSAM access = KEY_READ | KEY_WRITE) {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, key);
    }
    static LONG Set(HKEY key, const char* name, DWORD type, const std::vector<BYTE>& data) {
        return RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    // The value's type and bytes, or an empty type of -1 when it can't be read.
    static std::pair<long long, std::vector<BYTE>> Get(HKEY key, const char* name) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {-1, {}};
        std::vector<BYTE> data(size + 1);
        if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return {-1, {}};
        data.resize(size);
        return {type, data};
    }
};

TEST_F(RegistryTest, KeyIsCreatedOnceAndThenOpens) {
    HKEY key = nullptr;
    EXPECT_EQ(Open(tavrickKey, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);

    DWORD disposition = 0;
    key = Create(tavrickKey, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(fs::is_regular_file(KeyFile()));
    EXPECT_EQ(RegistryKeyFile(HKEY_LOCAL_MACHINE, tavrickKey), KeyFile());
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    key = Create(tavrickKey, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
    ASSERT_EQ(Open(tavrickKey, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    // The keys above it exist as folders.
    ASSERT_EQ(Open("Software\\Norvane Software", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Open("Software\\Elsewhere", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("Software\\\\Norvane Software", &key), ERROR_BADKEY);
}

TEST_F(RegistryTest, ValuesComeBackByteForByteWithTheirType) {
    std::mt19937 random(20261208);
    struct Case {
        const char* name;
        DWORD type;
        size_t size;
    };
    const Case cases[] = {{"empty", REG_BINARY, 0},   {"one", REG_DWORD, 1},    {"odd", 0x7FFFFFFF, 3},
                          {"dword", REG_DWORD, 4},    {"double", REG_DWORD, 8}, {"options", REG_BINARY, 44},
                          {"none", REG_NONE, 5},      {"top", 0xFFFFFFFF, 2},   {"kilo", REG_BINARY, 1000},
                          {"big", REG_BINARY, 200000}};
    std::vector<std::vector<BYTE>> written;
    HKEY key = Create();
    for (const Case& c : cases) {
        std::vector<BYTE> data(c.size);
        for (BYTE& b : data) b = static_cast<BYTE>(random());
        if (!data.empty()) data.front() = 0x00, data.back() = 0xFF;
        ASSERT_EQ(Set(key, c.name, c.type, data), ERROR_SUCCESS) << c.name;
        written.push_back(data);
    }
    RegCloseKey(key);

    ASSERT_EQ(Open(tavrickKey, &key), ERROR_SUCCESS);
    for (size_t i = 0; i < std::size(cases); ++i) {
        auto [type, data] = Get(key, cases[i].name);
        EXPECT_EQ(type, cases[i].type) << cases[i].name;
        EXPECT_EQ(data, written[i]) << cases[i].name;
    }
    RegCloseKey(key);
}

TEST_F(RegistryTest, QueryHonoursTheCallersSizeLimit) {
    HKEY key = Create();
    ASSERT_EQ(Set(key, "twelve", REG_DWORD, std::vector<BYTE>(12, 0xAB)), ERROR_SUCCESS);

    BYTE buffer[8];
    std::memset(buffer, 0x5A, sizeof buffer);
    DWORD type = 0, size = 8;
    EXPECT_EQ(RegQueryValueExA(key, "twelve", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(type, REG_DWORD);
    for (BYTE b : buffer) EXPECT_EQ(b, 0x5A) << "a refused read must not touch the buffer";

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "twelve", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 12u);
    size = 8;
    EXPECT_EQ(RegQueryValueExA(key, "absent", nullptr, nullptr, buffer, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "twelve", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, OddNamesSurviveAndStayInsideTheStore) {
    const char* valueNames[] = {"quo\"te",        "back\\slash",   "\\\"", "\xC3\xA9t\xE9\xFF", "=[x]",
                                ";not a comment", "line\nbreak\r", "@",    "tab\tname"};
    const char* keyNames[] = {"Software\\Qu\"oted \xC3\xB6\xFF",
                              "Software\\..",
                              "Software\\.",
                              "Software\\a/b",
                              "Software\\x.reg",
                              "Software\\x",
                              "Software\\100%"};
    for (const char* keyName : keyNames) {
        HKEY key = Create(keyName);
        ASSERT_NE(key, nullptr) << keyName;
        for (const char* name : valueNames)
            ASSERT_EQ(Set(key, name, REG_BINARY, {BYTE(name[0]), 1, 2}), ERROR_SUCCESS) << keyName << " " << name;
        ASSERT_EQ(Set(key, "", REG_DWORD, {9}), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    for (const char* keyName : keyNames) {
        HKEY key = nullptr;
        ASSERT_EQ(Open(keyName, &key), ERROR_SUCCESS) << keyName;
        for (const char* name : valueNames)
            EXPECT_EQ(Get(key, name), std::make_pair(3LL, std::vector<BYTE>{BYTE(name[0]), 1, 2})) << name;
        EXPECT_EQ(Get(key, nullptr), std::make_pair(4LL, std::vector<BYTE>{9}));
        RegCloseKey(key);
    }
    // ".." and "." are keys like any other: nothing was written beside the store,
    // and "a/b" made no folder "a".
    for (const auto& entry : fs::directory_iterator(base)) EXPECT_EQ(entry.path().filename(), "registry");
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files.push_back(entry.path().lexically_relative(root).string());
    EXPECT_EQ(std::count(files.begin(), files.end(), "HKEY_LOCAL_MACHINE/Software/a"), 0);
    EXPECT_EQ(std::count(files.begin(), files.end(), "HKEY_LOCAL_MACHINE.reg"), 0);
    EXPECT_EQ(std::count_if(files.begin(), files.end(),
                            [](const std::string& f) { return f.find("/Software/") != std::string::npos; }),
              static_cast<long>(std::size(keyNames)));
}

TEST_F(RegistryTest, ValueNamesIgnoreLetterCase) {
    HKEY key = Create();
    ASSERT_EQ(Set(key, "dstRate", REG_DWORD, {1, 2}), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, "DSTRATE", REG_DWORD, {3, 4}), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "dstrate").second, (std::vector<BYTE>{3, 4}));
    RegCloseKey(key);
    std::string text = ReadText(KeyFile());
    EXPECT_NE(text.find("\"dstRate\"=hex(4):03,04\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("DSTRATE"), std::string::npos) << text;
}

TEST_F(RegistryTest, LinesThatAreNotValuesAreSkipped) {
    std::string garbage(300000, 'x');
    garbage[1000] = '\0';
    WriteText(KeyFile(),
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Norvane Software\\Tavrick]\r\n"
              "; a comment\n"
              "\"dword\"=dword:00000006\n"
              "\"binary\"  =  hex: 01 , 02\n"
              "\"wrapped\"=hex(4):01,02,\\\n"
              "  03,04\n"
              "\"text\"=\"a\\\\b\\\"c\"\n"
              "@=hex(0):\n"
              "\"twice\"=hex:01\n"
              "\"twice\"=hex:02\n"
              "\"bad1\"=hex:0g\n"
              "\"bad2\"=hex(zz):00\n"
              "\"bad3=dword:00000001\n"
              "bad4=hex:00\n"
              "\"bad5\"=dword:123456789\n"
              "\"bad6\"=hex:01,,02\n"
              "\"bad7\"=hex:01,\n"
              "\"bad8\"=hex:01 02\n"
              "\"bad9\"=-\n"
              "\"bad10\"=\"C:\\temp\"\n"
              "\"bad11\"=hex:01,\\\n" +
                  garbage + "\n" +
                  "\"bad12\"=hex(100000000):00\n"
                  "\x01\x02\xFF\xFE\n"
                  "\"after\"=hex:ff");
    HKEY key = nullptr;
    ASSERT_EQ(Open(tavrickKey, &key), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "dword"), std::make_pair(4LL, std::vector<BYTE>{6, 0, 0, 0}));
    EXPECT_EQ(Get(key, "binary"), std::make_pair(3LL, std::vector<BYTE>{1, 2}));
    EXPECT_EQ(Get(key, "wrapped"), std::make_pair(4LL, std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(Get(key, "text"), std::make_pair(1LL, std::vector<BYTE>{'a', '\\', 'b', '"', 'c', 0}));
    EXPECT_EQ(Get(key, ""), std::make_pair(0LL, std::vector<BYTE>{}));
    EXPECT_EQ(Get(key, "twice").second, std::vector<BYTE>{2});
    EXPECT_EQ(Get(key, "after"), std::make_pair(3LL, std::vector<BYTE>{0xFF}));
    for (const char* bad :
         {"bad1", "bad2", "bad3", "bad4", "bad5", "bad6", "bad7", "bad8", "bad9", "bad10", "bad11", "bad12"})
        EXPECT_EQ(Get(key, bad).first, -1) << bad;

    // A change rewrites the file in its own form, keeping the values it understood.
    ASSERT_EQ(Set(key, "new", REG_DWORD, {7}), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "wrapped").second, (std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(Get(key, "text").second, (std::vector<BYTE>{'a', '\\', 'b', '"', 'c', 0}));
    EXPECT_EQ(ReadText(KeyFile()).find("bad"), std::string::npos);
    RegCloseKey(key);
}

TEST_F(RegistryTest, KeyFileThatCannotBeReadFailsTheOpen) {
    HKEY key = nullptr;
    // A folder where the key's file should be.
    fs::create_directories(KeyFile());
    EXPECT_NE(Open(tavrickKey, &key), ERROR_SUCCESS);
    EXPECT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tavrickKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(key, nullptr);
    fs::remove(KeyFile());

    // A FIFO must fail at once, not wait for a writer.
    ASSERT_EQ(mkfifo(KeyFile().c_str(), 0666), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(Open(tavrickKey, &key), ERROR_SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    fs::remove(KeyFile());

    // A huge file is not read into memory.
    { std::ofstream(KeyFile()) << "\"a\"=hex:01\n"; }
    fs::resize_file(KeyFile(), std::uintmax_t(1) << 31);
    EXPECT_NE(Open(tavrickKey, &key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, StoreThatCannotBeWrittenFailsTheCreate) {
    HKEY key = nullptr;
    // A regular file where the root folder should be.
    WriteText(root, "not a folder");
    EXPECT_EQ(Open(tavrickKey, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tavrickKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadText(root), "not a folder");
    fs::remove(root);

    // A regular file where a folder of the key path should be.
    WriteText(root + "/HKEY_LOCAL_MACHINE/Software", "x");
    EXPECT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tavrickKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadText(root + "/HKEY_LOCAL_MACHINE/Software"), "x");
}

// Holds the soft file-size limit at limit for its lifetime: writes past it fail
// for real (EFBIG), even for root, the way a full disk fails them.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }

private:
    rlimit saved;
    void (*previous)(int);
};

TEST_F(RegistryTest, FailedWriteIsReportedAndLeavesTheFileAsItWas) {
    HKEY key = Create();
    ASSERT_EQ(Set(key, "kept", REG_DWORD, {1, 2, 3, 4}), ERROR_SUCCESS);
    const std::string before = ReadText(KeyFile());
    {
        FileSizeLimit limit(before.size() + 10);
        EXPECT_EQ(Set(key, "large", REG_BINARY, std::vector<BYTE>(1000, 7)), ERROR_DISK_FULL);
        EXPECT_EQ(Set(key, "kept", REG_DWORD, std::vector<BYTE>(100, 9)), ERROR_DISK_FULL);
    }
    EXPECT_EQ(ReadText(KeyFile()), before);
    EXPECT_EQ(Get(key, "kept").second, (std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(Get(key, "large").first, -1);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(KeyFile()).parent_path())) ++entries;
    EXPECT_EQ(entries, 1) << "no temporary file may be left behind";

    // A folder where the file is to be renamed onto.
    fs::remove(KeyFile());
    fs::create_directories(KeyFile() + "/blocked");
    EXPECT_NE(Set(key, "kept", REG_DWORD, {5}), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AccessIsCheckedPerHandle) {
    RegCloseKey(Create());
    HKEY reader = nullptr, writer = nullptr;
    ASSERT_EQ(Open(tavrickKey, &reader, KEY_READ), ERROR_SUCCESS);
    ASSERT_EQ(Open(tavrickKey, &writer, KEY_WRITE), ERROR_SUCCESS);
    EXPECT_EQ(Set(reader, "a", REG_DWORD, {1}), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(writer, "a", REG_DWORD, {1}), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(writer, "a", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get(reader, "a").second, std::vector<BYTE>{1});
    RegCloseKey(reader);
    RegCloseKey(writer);
}

// Runs check in a child process without root's privileges (as "nobody" when
// the test runs as root) and returns its exit code.
template <typename Check>
int RunUnprivileged(Check check) {
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        _exit(check());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryTest, PermissionsOfTheStoreDecideTheAccessGranted) {
    HKEY key = Create();
    ASSERT_EQ(Set(key, "a", REG_DWORD, {1}), ERROR_SUCCESS);
    RegCloseKey(key);
    RegCloseKey(Create("Software\\Locked"));
    fs::permissions(base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(KeyFile("Software\\Locked"), fs::perms::none);

    // Readable but not writable for this user: read access only.
    int code = RunUnprivileged([] {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tavrickKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return 1;
        DWORD size = 4;
        BYTE data[4];
        if (RegQueryValueExA(k, "a", nullptr, nullptr, data, &size) != ERROR_SUCCESS || data[0] != 1) return 2;
        RegCloseKey(k);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tavrickKey, 0, KEY_READ | KEY_WRITE, &k) != ERROR_ACCESS_DENIED) return 3;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, tavrickKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) !=
            ERROR_ACCESS_DENIED)
            return 4;
        // A key file this user may not read can't be opened at all.
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Locked", 0, KEY_READ, &k) != ERROR_ACCESS_DENIED) return 5;
        return 0;
    });
    EXPECT_EQ(code, 0);
}

TEST_F(RegistryTest, DeletingAKeyRemovesItsFile) {
    HKEY key = Create();
    ASSERT_EQ(Set(key, "a", REG_DWORD, {1}), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, tavrickKey), ERROR_SUCCESS);
    EXPECT_FALSE(fs::exists(KeyFile()));
    EXPECT_EQ(Set(key, "a", REG_DWORD, {1}), ERROR_KEY_DELETED) << "a deleted key must not come back";
    EXPECT_FALSE(fs::exists(KeyFile()));
    RegCloseKey(key);
    EXPECT_EQ(Open(tavrickKey, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, tavrickKey), ERROR_FILE_NOT_FOUND);

    // A key with a sub-key stays until the sub-key is gone.
    RegCloseKey(Create("Software\\Norvane Software\\Tavrick\\Sub"));
    key = Create(tavrickKey);
    ASSERT_EQ(Set(key, "a", REG_DWORD, {1}), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, tavrickKey), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(fs::exists(KeyFile()));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Norvane Software\\Tavrick\\Sub"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, tavrickKey), ERROR_SUCCESS);
    EXPECT_EQ(Open(tavrickKey, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, HandlesAndThreadsNeverLoseEachOthersValues) {
    HKEY first = Create();
    HKEY second = Create();
    ASSERT_EQ(Set(first, "one", REG_DWORD, {1}), ERROR_SUCCESS);
    ASSERT_EQ(Set(second, "two", REG_DWORD, {2}), ERROR_SUCCESS);
    EXPECT_EQ(Get(first, "two").second, std::vector<BYTE>{2});
    EXPECT_EQ(Get(second, "one").second, std::vector<BYTE>{1});

    auto writeMany = [](HKEY key, char prefix) {
        for (int i = 0; i < 60; ++i) {
            std::string name = prefix + std::to_string(i);
            EXPECT_EQ(Set(key, name.c_str(), REG_BINARY, {BYTE(i)}), ERROR_SUCCESS);
        }
    };
    std::thread a(writeMany, first, 'a'), b(writeMany, second, 'b');
    a.join();
    b.join();
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(Get(first, ("a" + std::to_string(i)).c_str()).second, std::vector<BYTE>{BYTE(i)});
        EXPECT_EQ(Get(first, ("b" + std::to_string(i)).c_str()).second, std::vector<BYTE>{BYTE(i)});
    }
    RegCloseKey(first);
    RegCloseKey(second);
}

TEST_F(RegistryTest, ProcessesSavingAtOnceNeverLoseEachOthersValues) {
    RegCloseKey(Create());
    // Two processes, each setting its own values through handles of its own.
    auto writeMany = [](char prefix) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tavrickKey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return 1;
        for (int i = 0; i < 80; ++i) {
            const std::string name = prefix + std::to_string(i);
            const BYTE data = static_cast<BYTE>(i);
            if (RegSetValueExA(key, name.c_str(), 0, REG_BINARY, &data, 1) != ERROR_SUCCESS) return 2;
        }
        RegCloseKey(key);
        return 0;
    };
    const pid_t child = fork();
    if (child == 0) _exit(writeMany('c'));
    EXPECT_EQ(writeMany('p'), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    HKEY key = nullptr;
    ASSERT_EQ(Open(tavrickKey, &key, KEY_READ), ERROR_SUCCESS);
    int lost = 0;
    for (int i = 0; i < 80; ++i)
        for (const char* prefix : {"c", "p"})
            lost += Get(key, (prefix + std::to_string(i)).c_str()).second != std::vector<BYTE>{BYTE(i)};
    EXPECT_EQ(lost, 0);
    RegCloseKey(key);
}

TEST_F(RegistryTest, HugeValueInAnEditedFileIsSkippedAndSavesGoOn) {
    // 30 MB of text in one string: it loads as nothing, and the next save
    // (every byte written as three characters) still fits what a read accepts.
    WriteText(KeyFile(), "Windows Registry Editor Version 5.00\n\n\"keep\"=dword:00000007\n\"big\"=\"" +
                             std::string(30u << 20, 'x') + "\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(Open(tavrickKey, &key), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "big").first, -1);
    EXPECT_EQ(Set(key, "new", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "keep").second, (std::vector<BYTE>{7, 0, 0, 0}));
    EXPECT_LT(fs::file_size(KeyFile()), 4096u);
    // A value over the bound is refused when set, and the key stays as it was.
    EXPECT_EQ(Set(key, "big", REG_BINARY, std::vector<BYTE>((1u << 20) + 1)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Set(key, "fits", REG_BINARY, std::vector<BYTE>(1u << 20)), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "new").second, (std::vector<BYTE>{1, 0, 0, 0}));
    RegCloseKey(key);
}

TEST_F(RegistryTest, RootFollowsTheEnvironment) {
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    EXPECT_EQ(RegistryRootDirectory(), root);
    unsetenv("TAVRICK_REGISTRY_DIR");
    setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    EXPECT_EQ(RegistryRootDirectory(), base + "/config/tavrick/registry");
    RegCloseKey(Create());
    EXPECT_TRUE(fs::exists(base + "/config/tavrick/registry/HKEY_LOCAL_MACHINE/Software/Norvane Software/Tavrick.reg"));

    setenv("XDG_CONFIG_HOME", "relative/config", 1);  // not absolute: ignored
    setenv("HOME", (base + "/home").c_str(), 1);
    EXPECT_EQ(RegistryRootDirectory(), base + "/home/.config/tavrick/registry");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(RegistryRootDirectory(), base + "/home/.config/tavrick/registry");
    setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
