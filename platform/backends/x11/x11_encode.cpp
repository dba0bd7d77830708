#include "platform/backends/x11/x11_encode.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace platform {
namespace x11 {

namespace {

const std::uint32_t kColourMask = 0xFFFFFF;
// Request sizes in bytes: PutImage's header, ChangeGC with the foreground
// alone, PolyFillRectangle's header and each of its rectangles.
const std::size_t kPutImageHeader = 24;
const std::size_t kSetForeground = 16;
const std::size_t kFillHeader = 12;
const std::size_t kRectBytes = 8;

// The colour of more than half of a sample of the band if there is one
// (Boyer-Moore majority vote), otherwise some frequent colour. Only the
// cost depends on the choice, never the pixels drawn.
std::uint32_t Dominant(const std::uint32_t* pixels, std::size_t stride, int width, int rows) {
    std::uint32_t candidate = pixels[0] & kColourMask;
    std::size_t votes = 0;
    int rowStep = std::max(1, rows / 8);
    for (int row = 0; row < rows; row += rowStep) {
        const std::uint32_t* line = pixels + static_cast<std::size_t>(row) * stride;
        for (int column = 0; column < width; column += 7) {
            std::uint32_t colour = line[column] & kColourMask;
            if (votes == 0) {
                candidate = colour;
                votes = 1;
            } else if (colour == candidate) {
                ++votes;
            } else {
                --votes;
            }
        }
    }
    return candidate;
}

// The first column from `column` on whose pixel is not exactly `fill`:
// long stretches of the background are skipped a block at a time.
const int kBlock = 64;
int SkipFill(const std::uint32_t* line, int column, int width, const std::uint32_t* fill) {
    while (column + kBlock <= width &&
           std::memcmp(line + column, fill, kBlock * sizeof(std::uint32_t)) == 0) {
        column += kBlock;
    }
    while (column < width && line[column] == fill[0]) {
        ++column;
    }
    return column;
}

}  // namespace

void PlanBand(const std::uint32_t* pixels, std::size_t stride, int x, int y, int width, int rows,
              BandPlan* plan) {
    plan->fills = false;
    plan->colours.clear();
    plan->rects.clear();
    plan->imageBytes =
        kPutImageHeader + static_cast<std::size_t>(width) * static_cast<std::size_t>(rows) * 4;
    plan->fillBytes = 0;
    if (width <= 0 || rows <= 0) {
        return;
    }
    std::uint32_t background = Dominant(pixels, stride, width, rows);
    plan->background = background;
    // The band's fill, and one foreground change and request per colour.
    std::size_t fixed = kSetForeground + kFillHeader + kRectBytes;

    // Each row's runs of other colours; a run just like one of the row
    // above (same columns, same colour) makes that rectangle a row taller.
    // `open` holds the rectangles that reached the row above, left to right.
    std::vector<std::size_t>& open = plan->scratchOpen;
    std::vector<std::size_t>& next = plan->scratchNext;
    std::vector<std::uint32_t>& rectColour = plan->scratchColours;
    open.clear();
    rectColour.clear();
    std::size_t budget = plan->imageBytes;
    std::uint32_t fill[kBlock];
    std::fill(fill, fill + kBlock, background);
    for (int row = 0; row < rows; ++row) {
        const std::uint32_t* line = pixels + static_cast<std::size_t>(row) * stride;
        next.clear();
        std::size_t above = 0;
        int column = SkipFill(line, 0, width, fill);
        while (column < width) {
            std::uint32_t colour = line[column] & kColourMask;
            int start = column;
            while (column < width && (line[column] & kColourMask) == colour) {
                ++column;
            }
            if (colour == background) {
                column = SkipFill(line, column, width, fill);
                continue;
            }
            int left = x + start;
            std::uint16_t length = static_cast<std::uint16_t>(column - start);
            while (above < open.size() && plan->rects[open[above]].x < left) {
                ++above;
            }
            if (above < open.size() && plan->rects[open[above]].x == left &&
                plan->rects[open[above]].width == length && rectColour[open[above]] == colour) {
                ++plan->rects[open[above]].height;
                next.push_back(open[above]);
                ++above;
                continue;
            }
            next.push_back(plan->rects.size());
            plan->rects.push_back(FillRect{static_cast<std::int16_t>(left),
                                           static_cast<std::int16_t>(y + row), length, 1});
            rectColour.push_back(colour);
            if (fixed + plan->rects.size() * kRectBytes >= budget) {
                // Runs do not pay here: an image it is.
                plan->fillBytes = fixed + plan->rects.size() * kRectBytes;
                plan->rects.clear();
                return;
            }
        }
        open.swap(next);
    }

    // The rectangles grouped by colour, in the order the colours came.
    std::vector<std::size_t>& group = plan->scratchGroup;
    group.assign(rectColour.size(), 0);
    std::unordered_map<std::uint32_t, std::size_t> index;
    for (std::size_t i = 0; i < rectColour.size(); ++i) {
        auto found = index.emplace(rectColour[i], plan->colours.size());
        if (found.second) {
            plan->colours.push_back(ColourRects{rectColour[i], 0, 0});
        }
        group[i] = found.first->second;
        ++plan->colours[group[i]].count;
    }
    std::size_t first = 0;
    for (ColourRects& colour : plan->colours) {
        colour.first = first;
        first += colour.count;
        colour.count = 0;
    }
    std::vector<FillRect>& grouped = plan->scratchRects;
    grouped.resize(plan->rects.size());
    for (std::size_t i = 0; i < plan->rects.size(); ++i) {
        ColourRects& colour = plan->colours[group[i]];
        grouped[colour.first + colour.count++] = plan->rects[i];
    }
    plan->rects.swap(grouped);
    plan->fillBytes = fixed + plan->colours.size() * (kSetForeground + kFillHeader) +
                      plan->rects.size() * kRectBytes;
    plan->fills = plan->fillBytes < plan->imageBytes;
    if (!plan->fills) {
        plan->colours.clear();
        plan->rects.clear();
    }
}

}  // namespace x11
}  // namespace platform
