#pragma once
// A settings store of its own for each test: a fresh folder named by
// TAVRICK_REGISTRY_DIR, removed afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

class TempStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrick-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base = pattern;
        root = base + "/registry";
        setenv("TAVRICK_REGISTRY_DIR", root.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TAVRICK_REGISTRY_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(base, ignored);
    }

    static std::string ReadText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    static void WriteText(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }

    std::string base;  // the test's own folder
    std::string root;  // the store's root inside it
};
