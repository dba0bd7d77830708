// Which display the desktop entry point opens, from this build's table of
// displays.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/backends/desktop/display_choice.h"

namespace {

using platform::desktop::DisplayChoice;

const std::vector<std::string> kWaylandFirst = {"wayland", "x11"};
const std::vector<std::string> kX11Only = {"x11"};

// The choice from the table of displays, as if built with Wayland
// (`built`) and AppKit (`appkit`), in an environment of OSTREVANE_BACKEND
// (`forced`), WAYLAND_DISPLAY and XDG_RUNTIME_DIR, where `paths` exist.
DisplayChoice Choose(const char* forced, const char* waylandDisplay, const char* runtimeDir,
                     std::set<std::string> paths = {}, bool built = true, bool appkit = false) {
    static std::vector<platform::desktop::Display> table;
    table = platform::desktop::DesktopDisplays();
    for (platform::desktop::Display& display : table) {
        const std::string name = display.name;
        display.built = name == "wayland" ? built : name == "appkit" ? appkit : display.built;
    }
    platform::desktop::Environment environment;
    environment.variable = [=](const char* name) {
        const std::string variable = name;
        return variable == "OSTREVANE_BACKEND" ? forced
               : variable == "WAYLAND_DISPLAY" ? waylandDisplay
               : variable == "XDG_RUNTIME_DIR" ? runtimeDir
                                               : nullptr;
    };
    environment.exists = [paths](const std::string& path) { return paths.count(path) != 0; };
    return platform::desktop::ChooseDisplays(table, environment);
}

std::vector<std::string> Names(const DisplayChoice& choice) {
    std::vector<std::string> names;
    for (const platform::desktop::Display* display : choice.order) {
        names.push_back(display->name);
    }
    return names;
}

TEST(DisplayChoiceTest, WaylandWhenACompositorIsReachableThenX11) {
    EXPECT_EQ(Names(Choose(nullptr, "wayland-1", "/run/user/1000")), kWaylandFirst);
    EXPECT_EQ(Names(Choose(nullptr, "/abs/socket", nullptr)), kWaylandFirst);
    // libwayland's default socket.
    EXPECT_EQ(Names(Choose(nullptr, nullptr, "/run/user/1000", {"/run/user/1000/wayland-0"})),
              kWaylandFirst);
    EXPECT_EQ(Names(Choose("", "", "/run/user/1000", {"/run/user/1000/wayland-0"})), kWaylandFirst);
    for (const DisplayChoice& choice :
         {Choose(nullptr, nullptr, nullptr), Choose("", "", ""),
          Choose(nullptr, nullptr, "/run/user/1000", {"/run/user/1000/wayland-1"})}) {
        EXPECT_EQ(Names(choice), kX11Only);
        EXPECT_TRUE(choice.error.empty());
        // Why Wayland was not tried ends up in the one-line error.
        EXPECT_NE(choice.skipped.find("WAYLAND_DISPLAY"), std::string::npos);
    }
}

TEST(DisplayChoiceTest, OstrevaneBackendForcesOneOrIsRefused) {
    EXPECT_EQ(Names(Choose("x11", "wayland-0", "/run", {"/run/wayland-0"})), kX11Only);
    EXPECT_EQ(Names(Choose("wayland", nullptr, nullptr)), std::vector<std::string>{"wayland"});
    EXPECT_TRUE(Choose("x11", nullptr, nullptr).skipped.empty());
    for (const char* wrong : {"X11", "wayland ", "mir", "headless"}) {
        DisplayChoice choice = Choose(wrong, "wayland-0", nullptr);
        EXPECT_TRUE(choice.order.empty()) << wrong;
        EXPECT_EQ(choice.error,
                  std::string("OSTREVANE_BACKEND is \"") + wrong + "\"; it must be wayland or x11");
    }
    // A build without Wayland: X11 always, and forcing Wayland is an error.
    EXPECT_EQ(Names(Choose(nullptr, "wayland-0", nullptr, {}, false)), kX11Only);
    EXPECT_TRUE(Choose(nullptr, nullptr, nullptr, {}, false).skipped.empty());
    DisplayChoice forced = Choose("wayland", "wayland-0", nullptr, {}, false);
    EXPECT_TRUE(forced.order.empty());
    EXPECT_EQ(forced.error, "OSTREVANE_BACKEND=wayland, but this build has no Wayland display");
    // AppKit only by name, and only in builds with it.
    EXPECT_EQ(Names(Choose("appkit", "wayland-0", nullptr, {}, true, true)),
              std::vector<std::string>{"appkit"});
    EXPECT_EQ(Names(Choose(nullptr, "wayland-0", nullptr, {}, true, true)), kWaylandFirst);
    EXPECT_NE(Choose("appkit", nullptr, nullptr).error.find("no AppKit"), std::string::npos);
    EXPECT_NE(Choose("AppKit", nullptr, nullptr, {}, true, true).error.find("appkit, wayland"),
              std::string::npos);
}

// Every display the table names opens through its opener or its module.
TEST(DisplayChoiceTest, EachDisplayHasOneWayToOpen) {
    std::set<std::string> names;
    for (const platform::desktop::Display& display : platform::desktop::DesktopDisplays()) {
        EXPECT_TRUE(names.insert(display.name).second) << display.name;
        EXPECT_NE(display.open != nullptr,
                  display.moduleFile != nullptr && display.moduleEntry != nullptr)
            << display.name;
    }
    EXPECT_EQ(names, (std::set<std::string>{"appkit", "wayland", "x11"}));
}

}  // namespace
