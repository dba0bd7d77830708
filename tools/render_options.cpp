#include "tools/render_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// A side length: decimal digits only, 1 to kMaxCanvasSide.
bool ParseSide(const std::string& text, int* side) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kMaxCanvasSide) {
        return false;
    }
    *side = value;
    return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
    std::string::size_type x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    return ParseSide(text.substr(0, x), width) && ParseSide(text.substr(x + 1), height);
}

bool ParseScale(const std::string& text, double* scale) {
    if (text.empty() || text[0] == ' ' || text[0] == '\t') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno != 0 || !std::isfinite(value)) {
        return false;
    }
    if (value < kMinScale || value > kMaxScale) {
        return false;
    }
    *scale = value;
    return true;
}

}  // namespace

bool ParseRenderOptions(const std::vector<std::string>& args, RenderOptions* options,
                        std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        std::string::size_type equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }

        if (name == "--help" || name == "-h") {
            options->help = true;
            continue;
        }
        if (name == "--lines") {
            if (hasValue) {
                *error = "option --lines takes no value";
                return false;
            }
            options->lines = true;
            continue;
        }
        if (name != "--size" && name != "--scale" && name != "--output") {
            *error = "unknown option '" + args[i] + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (name == "--size") {
            if (!ParseSize(value, &options->width, &options->height)) {
                *error = "bad --size '" + value + "': expected WxH, each side 1 to 16384";
                return false;
            }
        } else if (name == "--scale") {
            if (!ParseScale(value, &options->scale)) {
                *error = "bad --scale '" + value + "': expected a number from 0.1 to 1000";
                return false;
            }
        } else {
            if (value.empty()) {
                *error = "option --output needs a file name";
                return false;
            }
            options->output = value;
        }
    }
    return true;
}

std::string RenderUsage() {
    return "usage: ostrevane-render [--size WxH] [--scale S] [--output FILE] [--lines]\n"
           "Draws the Ostrevane figure on an off-screen canvas of a screen's size.\n"
           "  --size WxH     screen size in pixels, each side 1 to 16384 (default 1024x768)\n"
           "  --scale S      pixels per figure unit, 0.1 to 1000 (default 11)\n"
           "  --output FILE  PNG file to write (default ostrevane.png); '-' is the standard\n"
           "                 output. A file is replaced whole, keeping its permissions; a\n"
           "                 device or FIFO (/dev/null, NUL) is written where it is\n"
           "  --lines        print the drawn lines, one 'x0 y0 x1 y1' per line, instead\n"
           "  --help         show this text\n"
           "Exit status: 0 done, 1 the canvas or the output could not be made or written,\n"
           "2 bad usage.\n";
}
