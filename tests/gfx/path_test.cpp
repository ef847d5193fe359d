#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gfx/path.h"

namespace {

struct PathFolder : ::testing::Test {
    char root[64] = "/tmp/quillet-path-XXXXXX";
    char saved[4096];
    void SetUp() override {
        ASSERT_NE(mkdtemp(root), nullptr);
        ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
        ASSERT_EQ(chdir(root), 0);
        mkdir("Data", 0755);
        touch("Data/Scanlines.PNG");
        touch("Data/twin.png");
        touch("Data/TWIN.png");
        touch("Data/exact.png");
    }
    void TearDown() override {
        ASSERT_EQ(chdir(saved), 0);
        std::string command = std::string("rm -rf ") + root;
        ASSERT_EQ(system(command.c_str()), 0);
    }
    static void touch(const char* name) { fclose(fopen(name, "w")); }
};

TEST_F(PathFolder, BackslashesBecomeSlashesAndCaseIsMatchedWhenUnique) {
    char out[256];
    EXPECT_EQ(path_resolve("Data\\exact.png", out, sizeof out), 0);
    EXPECT_STREQ(out, "Data/exact.png");
    EXPECT_EQ(path_resolve("data\\scanlines.png", out, sizeof out), 0);
    EXPECT_STREQ(out, "Data/Scanlines.PNG");
    FILE* f = path_fopen("data\\scanlines.png", "rb");
    ASSERT_NE(f, nullptr);
    fclose(f);
}

TEST_F(PathFolder, AmbiguousOrMissingNamesAreNotFound) {
    char out[256];
    EXPECT_EQ(path_resolve("data\\Twin.png", out, sizeof out), 1);  // twin.png and TWIN.png
    EXPECT_EQ(path_resolve("data\\twin.png", out, sizeof out), 0);  // an exact name wins over case twins
    EXPECT_STREQ(out, "Data/twin.png");
    EXPECT_EQ(path_resolve("data\\missing.png", out, sizeof out), 1);
    EXPECT_EQ(path_fopen("data\\missing.png", "rb"), nullptr);
    EXPECT_EQ(path_resolve("data\\exact.png", out, 4), 1);  // does not fit
}

}  // namespace
