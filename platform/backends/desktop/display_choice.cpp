#include "platform/backends/desktop/display_choice.h"

#include <algorithm>

namespace platform {
namespace desktop {

namespace {

bool Set(const char* value) { return value != nullptr && value[0] != '\0'; }

// The names OSTREVANE_BACKEND takes, for its error: those of the displays
// this build has or would try by itself, as "a, b or c".
std::string NameList(const std::vector<Display>& table) {
    std::vector<std::string> names;
    for (const Display& display : table) {
        if (display.built || display.reachable != nullptr) {
            names.push_back(display.name);
        }
    }
    std::sort(names.begin(), names.end());
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    return list;
}

}  // namespace

DisplayChoice ChooseDisplays(const std::vector<Display>& table, const Environment& environment) {
    DisplayChoice choice;
    const char* forced = environment.variable("OSTREVANE_BACKEND");
    if (Set(forced)) {
        const std::string named = forced;
        for (const Display& display : table) {
            if (named != display.name) {
                continue;
            }
            if (display.built) {
                choice.order = {&display};
            } else {
                choice.error = "OSTREVANE_BACKEND=" + named + ", but this build has no " +
                               display.title + " display";
            }
            return choice;
        }
        choice.error = "OSTREVANE_BACKEND is \"" + named + "\"; it must be " + NameList(table);
        return choice;
    }
    for (const Display& display : table) {
        if (!display.built || display.reachable == nullptr) {
            continue;
        }
        std::string why;
        if (display.reachable(environment, &why)) {
            choice.order.push_back(&display);
        } else {
            choice.skipped += (choice.skipped.empty() ? "" : "; ") + why;
        }
    }
    return choice;
}

}  // namespace desktop
}  // namespace platform
