#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

enum class Cpu { Sse, Sse2, Amd3dNow, Mmx };

bool CpuHas(Cpu feature) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a, b, c, d;
    if (feature == Cpu::Amd3dNow) return __get_cpuid(0x80000001, &a, &b, &c, &d) && (d & (1u << 31));
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    switch (feature) {
        case Cpu::Sse: return d & (1u << 25);
        case Cpu::Sse2: return d & (1u << 26);
        case Cpu::Mmx: return d & (1u << 23);
        default: return false;
    }
#else
    (void)feature;
    return false;
#endif
}

class VelluxTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrick-vellux-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Runs Vellux in folder with the arguments and returns its exit code, or
    // -1 when it didn't exit normally. removeFolder deletes the folder after
    // the program has made it its current one.
    static int Run(const std::string& folder, const std::vector<std::string>& args, bool removeFolder = false) {
        pid_t child = fork();
        if (child == 0) {
            if (chdir(folder.c_str()) != 0 || (removeFolder && rmdir(folder.c_str()) != 0)) _exit(100);
            std::vector<char*> argv{const_cast<char*>("Vellux")};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(VELLUX_PATH, argv.data());
            _exit(101);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        return names;
    }

    static std::string Contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    std::string dir;
};

TEST_F(VelluxTest, WordInAnyCaseAnswersWhatTheProcessorHas) {
    struct Case {
        const char* word;
        Cpu cpu;
        const char* marker;
    };
    const Case cases[] = {{"sse2", Cpu::Sse2, "sse2.tmp"},
                          {"SSE2", Cpu::Sse2, "sse2.tmp"},
                          {"sSe2", Cpu::Sse2, "sse2.tmp"},
                          {"sse", Cpu::Sse, "sse.tmp"},
                          {"Mmx", Cpu::Mmx, "mmx.tmp"}};
    // The answer agrees with what the processor reports of itself.
    for (const Case& c : cases) {
        const bool has = CpuHas(c.cpu);
        fs::path marker = fs::path(dir) / c.marker;
        EXPECT_EQ(Run(dir, {c.word}), has ? 1 : 0) << c.word;
        EXPECT_EQ(fs::is_regular_file(marker), has) << c.word;
        if (has) {
            EXPECT_EQ(fs::file_size(marker), 0u) << c.word;
        }
        EXPECT_EQ(Files().size(), has ? 1u : 0u) << c.word;
        fs::remove(marker);
    }
}

TEST_F(VelluxTest, StaleMarkerIsTruncated) {
    if (!CpuHas(Cpu::Sse2)) GTEST_SKIP() << "the processor has no SSE2";
    fs::path marker = fs::path(dir) / "sse2.tmp";
    std::ofstream(marker, std::ios::binary) << std::string(70000, 's');
    EXPECT_EQ(Run(dir, {"sse2"}), 1);
    EXPECT_EQ(fs::file_size(marker), 0u);
}

TEST_F(VelluxTest, Missing3dNowExitsZeroAndLeavesTheMarkerAlone) {
    if (CpuHas(Cpu::Amd3dNow)) GTEST_SKIP() << "this processor has 3DNow!, so the unsupported case can't be observed";
    EXPECT_EQ(Run(dir, {"3dnow"}), 0);
    EXPECT_TRUE(Files().empty());

    fs::path marker = fs::path(dir) / "3dnow.tmp";
    std::ofstream(marker, std::ios::binary) << "left as it was";
    EXPECT_EQ(Run(dir, {"3DNow"}), 0);
    EXPECT_EQ(Contents(marker), "left as it was");
}

TEST_F(VelluxTest, AnythingButOneWordSelectsNothing) {
    const std::vector<std::vector<std::string>> commandLines = {
        {},           {""},     {"sse2 "},  {" sse2"},   {"\"sse2\""}, {"sse", "mmx"},
        {"sse2", ""}, {"sse3"}, {"sse2\n"}, {"mmx.tmp"}, {"-sse"},     {"sse2\xC3\xA9"}};
    for (const auto& args : commandLines) {
        std::string shown;
        for (const std::string& arg : args) shown += "[" + arg + "]";
        EXPECT_EQ(Run(dir, args), 0) << shown;
        EXPECT_TRUE(Files().empty()) << shown;
    }
}

TEST_F(VelluxTest, MarkerThatCannotBeCreatedStillAnswersOne) {
    if (!CpuHas(Cpu::Sse2)) GTEST_SKIP() << "the processor has no SSE2";
    // A folder in the marker's place.
    fs::create_directory(fs::path(dir) / "sse2.tmp");
    EXPECT_EQ(Run(dir, {"sse2"}), 1);
    EXPECT_TRUE(fs::is_directory(fs::path(dir) / "sse2.tmp"));

    // A current folder that no longer exists.
    fs::path gone = fs::path(dir) / "gone";
    fs::create_directory(gone);
    EXPECT_EQ(Run(gone.string(), {"sse2"}, true), 1);
    EXPECT_FALSE(fs::exists(gone));
}

}  // namespace
