// Outputs: wl_output's modes, scales and transforms, and xdg-output's
// logical sizes, for the screen size the window manager is told.
#include <algorithm>

#include "platform/backends/wayland/wayland_backend.h"
#include "platform/backends/wayland/wayland_display.h"

namespace platform {
namespace wayland {

namespace {

// The screen reported while the compositor has announced no output.
const int kFallbackScreenWidth = 1024;
const int kFallbackScreenHeight = 768;

void OutputHandleGeometry(void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t,
                          std::int32_t, std::int32_t, const char*, const char*,
                          std::int32_t transform) {
    static_cast<Output*>(data)->transform = transform;
}

void OutputHandleMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                      std::int32_t height, std::int32_t) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        auto* output = static_cast<Output*>(data);
        output->modeWidth = width;
        output->modeHeight = height;
    }
}

void OutputHandleDone(void*, wl_output*) {}

void OutputHandleScale(void* data, wl_output*, std::int32_t scale) {
    static_cast<Output*>(data)->scale = scale;
}

void OutputHandleName(void*, wl_output*, const char*) {}
void OutputHandleDescription(void*, wl_output*, const char*) {}

const wl_output_listener kOutputListener = {OutputHandleGeometry, OutputHandleMode,
                                            OutputHandleDone,     OutputHandleScale,
                                            OutputHandleName,     OutputHandleDescription};

void XdgOutputHandleLogicalPosition(void*, zxdg_output_v1*, std::int32_t, std::int32_t) {}

void XdgOutputHandleLogicalSize(void* data, zxdg_output_v1*, std::int32_t width,
                                std::int32_t height) {
    auto* output = static_cast<Output*>(data);
    output->logicalWidth = width;
    output->logicalHeight = height;
}

void XdgOutputHandleDone(void*, zxdg_output_v1*) {}
void XdgOutputHandleName(void*, zxdg_output_v1*, const char*) {}
void XdgOutputHandleDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kXdgOutputListener = {
    XdgOutputHandleLogicalPosition, XdgOutputHandleLogicalSize, XdgOutputHandleDone,
    XdgOutputHandleName, XdgOutputHandleDescription};

}  // namespace

void WaylandBackend::AddOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version) {
    outputs_.emplace_back();
    Output& output = outputs_.back();
    output.name = name;
    output.output.reset(static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 3u))));
    wl_output_add_listener(output.output.get(), &kOutputListener, &output);
    AddXdgOutput(&output);
}

void WaylandBackend::RemoveOutput(std::uint32_t name) {
    outputs_.remove_if([name](const Output& output) { return output.name == name; });
}

void WaylandBackend::AddXdgOutput(Output* output) {
    if (outputManager_ == nullptr || output->xdgOutput != nullptr) {
        return;
    }
    output->xdgOutput.reset(
        zxdg_output_manager_v1_get_xdg_output(outputManager_.get(), output->output.get()));
    zxdg_output_v1_add_listener(output->xdgOutput.get(), &kXdgOutputListener, output);
}

// The output the first window entered, else the first announced.
const Output* WaylandBackend::ScreenOutput() const {
    for (const Output& output : outputs_) {
        if (startOutputKnown_ && output.name == startOutput_) {
            return &output;
        }
    }
    return outputs_.empty() ? nullptr : &outputs_.front();
}

void WaylandBackend::SurfaceEntered(wl_output* entered) {
    if (startOutputKnown_ || entered == nullptr) {
        return;
    }
    for (const Output& output : outputs_) {
        if (output.output.get() == entered) {
            startOutput_ = output.name;
            startOutputKnown_ = true;
        }
    }
}

void WaylandBackend::GetScreenSize(int* width, int* height) {
    const Output* output = ScreenOutput();
    int w = 0;
    int h = 0;
    if (output != nullptr) {
        LogicalOutputSize(output->logicalWidth, output->logicalHeight, output->modeWidth,
                          output->modeHeight, output->transform, output->scale, &w, &h);
    }
    if (w <= 0 || h <= 0) {
        w = kFallbackScreenWidth;
        h = kFallbackScreenHeight;
    }
    *width = w;
    *height = h;
}

void LogicalOutputSize(int logicalWidth, int logicalHeight, int modeWidth, int modeHeight,
                       int transform, int scale, int* width, int* height) {
    long w = 0;
    long h = 0;
    if (logicalWidth > 0 && logicalHeight > 0) {
        w = logicalWidth;
        h = logicalHeight;
    } else if (modeWidth > 0 && modeHeight > 0) {
        w = modeWidth;
        h = modeHeight;
        // The odd transforms turn the output by a quarter.
        if ((transform & 1) != 0) {
            std::swap(w, h);
        }
        long s = std::max(1, scale);
        w = (w + s - 1) / s;
        h = (h + s - 1) / s;
    }
    const long most = kMaxSurfaceSide;
    *width = w > 0 ? static_cast<int>(std::min(w, most)) : 0;
    *height = h > 0 ? static_cast<int>(std::min(h, most)) : 0;
}

}  // namespace wayland
}  // namespace platform
