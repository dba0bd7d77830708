#include "tools/png_file.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class PngFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("ostrevane-png-test-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(PngFileTest, WritesPixelsThatDecodeBack) {
    const int width = 3, height = 2;
    std::vector<std::uint32_t> pixels = {0x00FF0000, 0x0000FF00, 0x000000FF,
                                         0x00000000, 0x00FFFFFF, 0x00123456};
    std::string error;
    std::string path = (dir / "out.png").string();
    ASSERT_TRUE(WritePngFile(path, pixels, width, height, &error)) << error;

    int w = 0, h = 0, channels = 0;
    unsigned char* rgb = stbi_load(path.c_str(), &w, &h, &channels, 3);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    for (int i = 0; i < width * height; ++i) {
        std::uint32_t decoded = (rgb[3 * i] << 16) | (rgb[3 * i + 1] << 8) | rgb[3 * i + 2];
        EXPECT_EQ(decoded, pixels[i]) << i;
    }
    stbi_image_free(rgb);
    // Nothing but the file itself is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(PngFileTest, FailureLeavesTheTargetAndNoTemporaryFile) {
    std::vector<std::uint32_t> pixels(4, 0);
    std::string error;
    // The directory does not exist.
    EXPECT_FALSE(WritePngFile((dir / "missing" / "out.png").string(), pixels, 2, 2, &error));
    EXPECT_FALSE(error.empty());
    // The target is a directory: it cannot be replaced by a file.
    fs::create_directories(dir / "taken.png");
    error.clear();
    EXPECT_FALSE(WritePngFile((dir / "taken.png").string(), pixels, 2, 2, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(dir / "taken.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(PngFileTest, ReplacesAnExistingFileWhole) {
    std::string path = (dir / "out.png").string();
    std::ofstream(path) << "old contents";
    std::vector<std::uint32_t> pixels(16 * 16, 0x00FF0000);
    std::string error;
    ASSERT_TRUE(WritePngFile(path, pixels, 16, 16, &error)) << error;
    int w = 0, h = 0, channels = 0;
    unsigned char* rgb = stbi_load(path.c_str(), &w, &h, &channels, 3);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(w, 16);
    stbi_image_free(rgb);
}

}  // namespace
