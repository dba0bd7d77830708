// The X11 display's text from the input method: UTF-8 decoded without a
// converter, each ill-formed part one U+FFFD.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/backends/x11/x11_backend.h"

namespace {

TEST(X11KeyboardTest, Utf8AsCodePoints) {
    struct Row {
        std::string typed;
        std::u32string chars;
    };
    for (const Row& row : std::vector<Row>{
             {"a\r\x1B", U"a\r\x1B"},
             {"\xC3\xA9\xE2\x82\xAC", U"\u00e9\u20ac"},  // two and three bytes
             {"\xF0\x9F\x98\x80", U"\U0001F600"},        // four
             {"\xF4\x8F\xBF\xBF\xEF\xBF\xBF", U"\U0010FFFF\uFFFF"},
             {"\x80x\xBF", U"\uFFFDx\uFFFD"},  // continuations alone
             {"\xE2\x82x", U"\uFFFDx"},        // cut short, then a character
             {"\xF0\x9F\x98", U"\uFFFD"},      // cut short at the end
             {"\xC0\xAF\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong
             {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},                      // a surrogate
             {"\xF4\x90\x80\x80\xFF", U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
             {"", U""},
         }) {
        char32_t out[8] = {};
        int n = platform::x11::DecodeUtf8(row.typed.data(), row.typed.size(), out, 8);
        EXPECT_EQ(std::u32string(out, static_cast<std::size_t>(n)), row.chars);
    }
    // No more than the room given.
    char32_t out[2] = {};
    EXPECT_EQ(platform::x11::DecodeUtf8("\xC3\xA9\xC3\xA9\xC3\xA9", 6, out, 2), 2);
    EXPECT_EQ(out[1], U'\u00e9');
}

}  // namespace
