#include "tools/png_file.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <utility>

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

void ExpectDecodesTo(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                     int height) {
    int w = 0, h = 0, channels = 0;
    unsigned char* rgb = stbi_load(path.c_str(), &w, &h, &channels, 3);
    ASSERT_NE(rgb, nullptr) << stbi_failure_reason();
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    int wrong = 0;
    for (std::size_t i = 0; i < pixels.size() && wrong < 5; ++i) {
        std::uint32_t decoded = (rgb[3 * i] << 16) | (rgb[3 * i + 1] << 8) | rgb[3 * i + 2];
        if (decoded != pixels[i]) {
            ADD_FAILURE() << "pixel " << i << " is " << decoded << ", wrote " << pixels[i];
            ++wrong;
        }
    }
    stbi_image_free(rgb);
}

TEST_F(PngFileTest, WritesPixelsThatDecodeBack) {
    const int width = 3, height = 2;
    std::vector<std::uint32_t> pixels = {0x00FF0000, 0x0000FF00, 0x000000FF,
                                         0x00000000, 0x00FFFFFF, 0x00123456};
    std::string error;
    std::string path = (dir / "out.png").string();
    ASSERT_TRUE(WritePngFile(path, pixels, width, height, &error)) << error;

    ExpectDecodesTo(path, pixels, width, height);
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

// The colour type and bit depth of a PNG file's header.
std::pair<int, int> TypeAndDepth(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char header[26] = {};
    file.read(header, sizeof(header));
    return {static_cast<unsigned char>(header[25]), static_cast<unsigned char>(header[24])};
}

// `colours` distinct colours in a pseudo-random order over an image of the
// given size (each one used at least once when the image is large enough).
std::vector<std::uint32_t> Picture(int width, int height, int colours) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        state = state * 1103515245u + 12345u;
        std::size_t pick = i < static_cast<std::size_t>(colours) ? i : (state >> 8) % colours;
        pixels[i] = static_cast<std::uint32_t>(pick * 0x010305u + 7) & 0x00FFFFFF;
    }
    return pixels;
}

TEST_F(PngFileTest, FewColoursMakeAPaletteOfTheFewestBitsAndManyMakeRgb) {
    // Odd widths leave packed rows with unused bits at the end.
    const struct {
        int colours, type, depth;
    } cases[] = {{1, 3, 1},  {2, 3, 1},  {3, 3, 2},   {4, 3, 2},   {5, 3, 4},
                 {16, 3, 4}, {17, 3, 8}, {256, 3, 8}, {257, 2, 8}, {5000, 2, 8}};
    for (const auto& c : cases) {
        const int width = 37, height = 150;
        std::vector<std::uint32_t> pixels = Picture(width, height, c.colours);
        std::string path = (dir / ("c" + std::to_string(c.colours) + ".png")).string();
        std::string error;
        ASSERT_TRUE(WritePngFile(path, pixels, width, height, &error)) << error;
        EXPECT_EQ(TypeAndDepth(path), std::make_pair(c.type, c.depth)) << c.colours << " colours";
        ExpectDecodesTo(path, pixels, width, height);
    }
}

TEST_F(PngFileTest, RowsComeInOrderedBandsAndCrossBandBoundaries) {
    // 4096 pixels a row: 64 rows a band, so three bands and a short one.
    const int width = 4096, height = 200;
    std::vector<std::uint32_t> pixels = Picture(width, height, 3);
    // A colour first seen in the last band still makes the palette.
    pixels.back() = 0x00ABCDEF;
    std::vector<int> firsts;
    std::string path = (dir / "bands.png").string();
    std::string error;
    ASSERT_TRUE(WritePngFile(
        path, width, height,
        [&](int first, int count, std::uint32_t* out) {
            firsts.push_back(first);
            EXPECT_GT(count, 0);
            EXPECT_LE(first + count, height);
            std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(first) * width,
                        static_cast<std::size_t>(count) * width, out);
            return true;
        },
        &error))
        << error;
    // Once for the colours, once for the pixels, each top to bottom.
    ASSERT_FALSE(firsts.empty());
    std::size_t passes = 0;
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        passes += firsts[i] == 0 ? 1 : 0;
        if (i > 0 && firsts[i] != 0) {
            EXPECT_GT(firsts[i], firsts[i - 1]);
        }
    }
    EXPECT_EQ(passes, 2u);
    EXPECT_EQ(TypeAndDepth(path), std::make_pair(3, 2));
    ExpectDecodesTo(path, pixels, width, height);
}

TEST_F(PngFileTest, AnUnreadableOrChangingImageLeavesNoFile) {
    const int width = 8, height = 8;
    std::string path = (dir / "out.png").string();
    std::string error;
    int calls = 0;
    // Fails on the second pass, after the file was begun.
    EXPECT_FALSE(WritePngFile(
        path, width, height,
        [&](int, int count, std::uint32_t* out) {
            std::fill_n(out, static_cast<std::size_t>(count) * width, 0u);
            return ++calls == 1;
        },
        &error));
    EXPECT_FALSE(error.empty());
    // Gains a colour between the passes: the palette would be wrong.
    calls = 0;
    EXPECT_FALSE(WritePngFile(
        path, width, height,
        [&](int, int count, std::uint32_t* out) {
            std::fill_n(out, static_cast<std::size_t>(count) * width,
                        ++calls == 1 ? 0u : 0x00FF00u);
            out[0] = 0x00FF0000;
            return true;
        },
        &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(WritePngFile(path, std::vector<std::uint32_t>(3), 2, 2, &error));
    EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
