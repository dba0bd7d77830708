#include "tools/render_options.h"

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<std::string> args, RenderOptions* options, std::string* error) {
    return ParseRenderOptions(args, options, error);
}

TEST(RenderOptionsTest, DefaultsAndEveryOption) {
    RenderOptions options;
    std::string error;
    ASSERT_TRUE(Parse({}, &options, &error));
    EXPECT_EQ(options.width, 1024);
    EXPECT_EQ(options.height, 768);
    EXPECT_EQ(options.scale, 11.0);
    EXPECT_EQ(options.output, "ostrevane.png");
    EXPECT_FALSE(options.lines);

    ASSERT_TRUE(Parse({"--size", "1x16384", "--scale=0.1", "--output", "a b.png", "--lines"},
                      &options, &error))
        << error;
    EXPECT_EQ(options.width, 1);
    EXPECT_EQ(options.height, 16384);
    EXPECT_EQ(options.scale, 0.1);
    EXPECT_EQ(options.output, "a b.png");
    EXPECT_TRUE(options.lines);

    ASSERT_TRUE(Parse({"--size=1920x1080", "--scale", "1000"}, &options, &error));
    EXPECT_EQ(options.width, 1920);
    EXPECT_EQ(options.scale, 1000.0);
}

TEST(RenderOptionsTest, RejectsMalformedAndOutOfRangeValues) {
    const std::vector<std::vector<std::string>> bad = {
        {"--size", "0x10"},
        {"--size", "16385x10"},
        {"--size", "10x"},
        {"--size", "x10"},
        {"--size", "10"},
        {"--size", "-5x10"},
        {"--size", "10x10x10"},
        {"--size", "1e3x10"},
        {"--size", "99999999999x1"},
        {"--size", " 10x10"},
        {"--scale", "0.09"},
        {"--scale", "1000.5"},
        {"--scale", "nan"},
        {"--scale", "inf"},
        {"--scale", "11px"},
        {"--scale", ""},
        {"--scale"},
        {"--output", ""},
        {"--frobnicate"},
        {"extra"},
        {"--lines=yes"},
    };
    for (const auto& args : bad) {
        RenderOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, &options, &error)) << args[0];
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

}  // namespace
