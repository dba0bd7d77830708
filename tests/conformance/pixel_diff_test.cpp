#include "tests/support/pixel_diff.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// An image filled with one colour, whose pixels a test can then change.
struct TestImage {
    std::vector<unsigned char> bytes;
    Image image;

    TestImage(int width, int height, std::uint32_t colour) {
        bytes.resize(static_cast<std::size_t>(width) * height * 3);
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            bytes[i] = static_cast<unsigned char>(colour >> 16);
            bytes[i + 1] = static_cast<unsigned char>(colour >> 8);
            bytes[i + 2] = static_cast<unsigned char>(colour);
        }
        image.width = width;
        image.height = height;
        image.rgb = bytes.data();
    }
    void Set(int x, int y, std::uint32_t colour) {
        unsigned char* p = &bytes[(static_cast<std::size_t>(y) * image.width + x) * 3];
        p[0] = static_cast<unsigned char>(colour >> 16);
        p[1] = static_cast<unsigned char>(colour >> 8);
        p[2] = static_cast<unsigned char>(colour);
    }
};

TEST(CompareSameTest, IdenticalImagesAreEqualAndLitPixelsAreCounted) {
    TestImage a(5, 4, 0), b(5, 4, 0);
    a.Set(1, 2, 0xFF0000);
    b.Set(1, 2, 0xFF0000);
    PixelDiff diff = CompareSame(a.image, b.image);
    EXPECT_TRUE(diff.Equal());
    EXPECT_EQ(diff.compared, 20);
    EXPECT_EQ(diff.lit, 1);
}

TEST(CompareSameTest, OneChannelOffByOneIsADifference) {
    TestImage a(3, 3, 0), b(3, 3, 0);
    a.Set(2, 1, 0xFF0000);
    b.Set(2, 1, 0xFE0000);
    PixelDiff diff = CompareSame(a.image, b.image);
    EXPECT_FALSE(diff.Equal());
    EXPECT_EQ(diff.differing, 1);
    ASSERT_EQ(diff.first.size(), 1u);
    EXPECT_EQ(diff.first[0].x, 2);
    EXPECT_EQ(diff.first[0].y, 1);
    EXPECT_EQ(diff.first[0].got, 0xFF0000u);
    EXPECT_EQ(diff.first[0].expected, 0xFE0000u);
}

TEST(CompareSameTest, BlueAndGreenAreComparedToo) {
    TestImage a(2, 1, 0), b(2, 1, 0);
    a.Set(0, 0, 0x000100);
    a.Set(1, 0, 0x000001);
    EXPECT_EQ(CompareSame(a.image, b.image).differing, 2);
}

TEST(CompareSameTest, SizesMustMatchEvenWithTheSamePixelCount) {
    TestImage a(4, 6, 0), b(6, 4, 0);
    PixelDiff diff = CompareSame(a.image, b.image);
    EXPECT_TRUE(diff.size_mismatch);
    EXPECT_FALSE(diff.Equal());
}

TEST(CompareSameTest, ListsOnlyTheFirstDifferencesButCountsAll) {
    TestImage a(20, 20, 0), b(20, 20, 0xFFFFFF);
    PixelDiff diff = CompareSame(a.image, b.image);
    EXPECT_EQ(diff.differing, 400);
    EXPECT_EQ(diff.first.size(), PixelDiff::kListed);
    EXPECT_EQ(diff.first[1].x, 1);  // row by row
    EXPECT_EQ(diff.first[1].y, 0);
}

TEST(CompareWindowTest, ClientSmallerThanCanvasShowsItsTopLeft) {
    TestImage canvas(10, 8, 0), client(4, 3, 0);
    canvas.Set(3, 2, 0xFF0000);
    canvas.Set(5, 5, 0xFF0000);  // outside the client area: not compared
    client.Set(3, 2, 0xFF0000);
    PixelDiff diff = CompareWindow(client.image, canvas.image);
    EXPECT_TRUE(diff.Equal());
    EXPECT_EQ(diff.compared, 12);
    EXPECT_EQ(diff.lit, 1);
}

TEST(CompareWindowTest, AShiftedFigureIsCaught) {
    TestImage canvas(10, 8, 0), client(6, 6, 0);
    canvas.Set(3, 2, 0xFF0000);
    client.Set(4, 2, 0xFF0000);
    EXPECT_EQ(CompareWindow(client.image, canvas.image).differing, 2);
}

TEST(CompareWindowTest, BeyondTheCanvasTheClientIsWhite) {
    TestImage canvas(2, 2, 0), client(3, 3, 0xFFFFFF);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            client.Set(x, y, 0);
        }
    }
    PixelDiff diff = CompareWindow(client.image, canvas.image);
    EXPECT_TRUE(diff.Equal());
    EXPECT_EQ(diff.compared, 9);
    EXPECT_EQ(diff.lit, 0);  // white background is not figure
}

TEST(CompareWindowTest, BlackBeyondTheCanvasIsADifference) {
    TestImage canvas(2, 2, 0), client(3, 2, 0);
    PixelDiff diff = CompareWindow(client.image, canvas.image);
    EXPECT_EQ(diff.differing, 2);
    EXPECT_EQ(diff.first[0].expected, 0xFFFFFFu);
}

TEST(CompareWindowTest, AnAllBlackClientOverAnEmptyCornerHasNothingLit) {
    TestImage canvas(10, 10, 0), client(3, 3, 0);
    canvas.Set(9, 9, 0xFF0000);
    PixelDiff diff = CompareWindow(client.image, canvas.image);
    EXPECT_TRUE(diff.Equal());
    EXPECT_EQ(diff.lit, 0);
}

TEST(DescribeDiffTest, NamesTheFilesAndThePixels) {
    TestImage a(3, 3, 0), b(3, 3, 0);
    a.Set(1, 1, 0x123456);
    std::string text = DescribeDiff(CompareSame(a.image, b.image), "a.png", "b.png");
    EXPECT_NE(text.find("DIFFERENT"), std::string::npos);
    EXPECT_NE(text.find("a.png"), std::string::npos);
    EXPECT_NE(text.find("b.png"), std::string::npos);
    EXPECT_NE(text.find("(1,1): #123456, expected #000000"), std::string::npos);
}

TEST(DescribeDiffTest, SaysWhichSizesDiffer) {
    TestImage a(3, 2, 0), b(2, 3, 0);
    std::string text = DescribeDiff(CompareSame(a.image, b.image), "a.png", "b.png");
    EXPECT_NE(text.find("a.png is 3x2, b.png is 2x3"), std::string::npos);
}

}  // namespace
