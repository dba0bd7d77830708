// Command-line options of ostrevane-render.
#ifndef OSTREVANE_TOOLS_RENDER_OPTIONS_H
#define OSTREVANE_TOOLS_RENDER_OPTIONS_H

#include <string>
#include <vector>

struct RenderOptions {
    int width = 1024;
    int height = 768;
    double scale = 11.0;
    std::string output = "ostrevane.png";
    bool lines = false;  // print the line list instead of writing a PNG
    bool help = false;
};

const int kMaxCanvasSide = 16384;
const double kMinScale = 0.1;
const double kMaxScale = 1000.0;

// Parses the arguments after the program name. Returns false and sets
// `error` to a one-line message on bad usage.
bool ParseRenderOptions(const std::vector<std::string>& args, RenderOptions* options,
                        std::string* error);

// The usage text, ending with a newline.
std::string RenderUsage();

#endif  // OSTREVANE_TOOLS_RENDER_OPTIONS_H
