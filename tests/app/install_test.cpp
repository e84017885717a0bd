// `cmake --install` into a temporary DESTDIR: the layout a desktop and man
// expect, a valid desktop entry, programs that run from there, and an
// installed converter that finds its guide below ../share.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "app/startup.h"

namespace {

std::string RunCommand(const std::string& command, int* status) {
    std::string output;
    if (std::FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        *status = pclose(pipe);
    } else {
        *status = -1;
    }
    return output;
}

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tavrick-install-XXXXXX";
        root = mkdtemp(pattern);
        int status = 0;
        log = RunCommand("DESTDIR=" + root + " " CMAKE_COMMAND_PATH " --install " BUILD_DIR " --prefix /usr", &status);
        installed = status == 0;
        prefix = root + "/usr";
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    void SetUp() override { ASSERT_TRUE(installed) << log; }

    static inline std::string root, prefix, log;
    static inline bool installed = false;
};

TEST_F(InstallTest, LayoutHasProgramsGuideEntryIconsAndManPage) {
    for (const char* program : {"bin/converter", "bin/tavrick", "bin/Vellux"}) {
        struct stat info {};
        ASSERT_EQ(stat((prefix + "/" + program).c_str(), &info), 0) << program;
        EXPECT_TRUE(info.st_mode & S_IXOTH) << program << " is not executable";
    }
    const char* files[] = {
        "share/tavrick/Guide/index.htm",
        "share/applications/tavrick.desktop",
        "share/icons/hicolor/16x16/apps/tavrick.png",
        "share/icons/hicolor/48x48/apps/tavrick.png",
        "share/icons/hicolor/256x256/apps/tavrick.png",
        "share/icons/hicolor/scalable/apps/tavrick.svg",
        "share/man/man1/tavrick.1",
    };
    for (const char* file : files) EXPECT_TRUE(std::filesystem::is_regular_file(prefix + "/" + file)) << file;
    // A PNG's width and height sit at bytes 16..23, big-endian.
    std::ifstream png(prefix + "/share/icons/hicolor/48x48/apps/tavrick.png", std::ios::binary);
    unsigned char header[24] = {};
    png.read(reinterpret_cast<char*>(header), sizeof header);
    EXPECT_EQ(header[19], 48);
    EXPECT_EQ(header[23], 48);
}

TEST_F(InstallTest, DesktopEntryValidatesAndOpensFilesWithConverter) {
    std::string entry = prefix + "/share/applications/tavrick.desktop";
    int status = 0;
    std::string complaints = RunCommand("desktop-file-validate " + entry, &status);
    EXPECT_EQ(status, 0) << complaints;
    EXPECT_EQ(complaints, "");
    std::ifstream in(entry);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\nExec=converter %f\n"), std::string::npos);
    EXPECT_NE(text.str().find("\nMimeType=video/x-msvideo;video/avi;video/vnd.avi;video/mp4;video/x-m4v;"
                              "video/x-matroska;video/quicktime;video/webm;video/mp2t;video/mpeg;\n"),
              std::string::npos);
    EXPECT_NE(text.str().find("\nIcon=tavrick\n"), std::string::npos);
}

TEST_F(InstallTest, InstalledProgramsRunAndConverterFindsTheInstalledGuide) {
    int status = 0;
    std::string version = RunCommand(prefix + "/bin/tavrick --version", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(version.rfind("tavrick 2.03c", 0), 0u) << version;
    // Needs no display; it deletes the settings key of a store of its own.
    RunCommand("TAVRICK_REGISTRY_DIR=" + root + "/registry " + prefix + "/bin/converter -uninstall", &status);
    EXPECT_EQ(status, 0);

    // What "&Help..." of the installed converter opens.
    std::string directory = ProgramDirectoryOf(prefix + "/bin/converter");
    std::string guide = UserGuidePath(directory.c_str());
    EXPECT_EQ(guide, prefix + "/share/tavrick/Guide/index.htm");
    EXPECT_TRUE(std::filesystem::is_regular_file(guide));
}

}  // namespace
