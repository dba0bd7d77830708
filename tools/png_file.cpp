// The PNG writer of Linux builds: libpng, fed a band of rows at a time, so
// that the image is never held twice.
#include "tools/png_file.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "tools/whole_file.h"

namespace {

// Rows are read about this many bytes at a time.
const std::size_t kBandBytes = 1024 * 1024;
// Chosen by measurement (bench/render): on the figure, mostly one colour,
// run-length deflate at level 6 is as small as the default strategy at 9 and
// several times faster; a 16384x16384 figure takes well under 1 MB.
const int kCompressionLevel = 6;
const int kCompressionStrategy = Z_RLE;

struct Palette {
    std::uint32_t colours[256];
    int count = 0;
};

// The index of `colour` in the palette, adding it if it is new; -1 if the
// palette is full.
int IndexOf(Palette* palette, std::uint32_t colour) {
    for (int i = 0; i < palette->count; ++i) {
        if (palette->colours[i] == colour) {
            return i;
        }
    }
    if (palette->count == 256) {
        return -1;
    }
    palette->colours[palette->count] = colour;
    return palette->count++;
}

int BandRows(int width) {
    return static_cast<int>(std::max<std::size_t>(1, kBandBytes / (std::size_t(width) * 4)));
}

// Reads the whole image once for its colours. False with `*tooMany` if it
// has more than 256; false without it if it cannot be read.
bool CollectColours(int width, int height, const PngRowReader& readRows,
                    std::vector<std::uint32_t>* band, Palette* palette, bool* tooMany) {
    *tooMany = false;
    int bandRows = BandRows(width);
    for (int y = 0; y < height; y += bandRows) {
        int rows = std::min(bandRows, height - y);
        if (!readRows(y, rows, band->data())) {
            return false;
        }
        const std::uint32_t* pixel = band->data();
        const std::uint32_t* end = pixel + static_cast<std::size_t>(rows) * width;
        std::uint32_t last = *pixel;
        if (IndexOf(palette, last) < 0) {
            *tooMany = true;
            return false;
        }
        for (; pixel != end; ++pixel) {
            if (*pixel != last) {
                last = *pixel;
                if (IndexOf(palette, last) < 0) {
                    *tooMany = true;
                    return false;
                }
            }
        }
    }
    return true;
}

struct ErrorContext {
    char message[200];
};

void OnPngError(png_structp png, png_const_charp message) {
    ErrorContext* context = static_cast<ErrorContext*>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof(context->message), "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Encodes the image into `file`: indexed with `palette`, or RGB when it is
// null. Only plain data lives in this frame, which libpng's errors leave
// with a long jump.
bool Encode(std::FILE* file, int width, int height, const PngRowReader& readRows,
            const Palette* palette, std::vector<std::uint32_t>* band,
            std::vector<unsigned char>* row, ErrorContext* context) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, context, OnPngError, OnPngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(context->message, sizeof(context->message), "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, kCompressionLevel);
    png_set_compression_strategy(png, kCompressionStrategy);
    png_set_compression_buffer_size(png, 256 * 1024);
    // Filters help photographs, not a few flat colours.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    int depth = 8;
    if (palette != nullptr) {
        depth = palette->count <= 2 ? 1 : palette->count <= 4 ? 2 : palette->count <= 16 ? 4 : 8;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 depth, palette != nullptr ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette != nullptr) {
        png_color entries[256];
        for (int i = 0; i < palette->count; ++i) {
            entries[i].red = static_cast<png_byte>(palette->colours[i] >> 16);
            entries[i].green = static_cast<png_byte>(palette->colours[i] >> 8);
            entries[i].blue = static_cast<png_byte>(palette->colours[i]);
        }
        png_set_PLTE(png, info, entries, palette->count);
    }
    png_write_info(png, info);
    if (depth < 8) {
        // One index per byte in, packed by libpng.
        png_set_packing(png);
    }

    int bandRows = BandRows(width);
    Palette lookup = palette != nullptr ? *palette : Palette();
    for (int y = 0; y < height; y += bandRows) {
        int rows = std::min(bandRows, height - y);
        if (!readRows(y, rows, band->data())) {
            png_error(png, "cannot read the image");
        }
        for (int r = 0; r < rows; ++r) {
            const std::uint32_t* pixels = band->data() + static_cast<std::size_t>(r) * width;
            unsigned char* out = row->data();
            if (palette != nullptr) {
                std::uint32_t last = pixels[0];
                unsigned char index = static_cast<unsigned char>(IndexOf(&lookup, last));
                for (int x = 0; x < width; ++x) {
                    if (pixels[x] != last) {
                        last = pixels[x];
                        int found = IndexOf(&lookup, last);
                        if (found < 0 || lookup.count != palette->count) {
                            png_error(png, "the image changed while it was written");
                        }
                        index = static_cast<unsigned char>(found);
                    }
                    out[x] = index;
                }
            } else {
                for (int x = 0; x < width; ++x) {
                    out[3 * x + 0] = static_cast<unsigned char>(pixels[x] >> 16);
                    out[3 * x + 1] = static_cast<unsigned char>(pixels[x] >> 8);
                    out[3 * x + 2] = static_cast<unsigned char>(pixels[x]);
                }
            }
            png_write_row(png, row->data());
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePngFile(const std::string& path, int width, int height, const PngRowReader& readRows,
                  std::string* error) {
    if (width < 1 || height < 1 || width > 0x7FFFFFFF / 4) {
        *error = "bad image size";
        return false;
    }
    std::vector<std::uint32_t> band;
    std::vector<unsigned char> row;
    try {
        band.resize(static_cast<std::size_t>(BandRows(width)) * width);
        row.resize(static_cast<std::size_t>(width) * 3);
    } catch (const std::bad_alloc&) {
        *error = "out of memory";
        return false;
    }
    Palette palette;
    bool tooMany = false;
    bool indexed = CollectColours(width, height, readRows, &band, &palette, &tooMany);
    if (!indexed && !tooMany) {
        *error = "cannot read the image";
        return false;
    }

    OutputFile output;
    if (!output.Open(path, error)) {
        return false;
    }
    ErrorContext context = {};
    errno = 0;
    bool encoded = Encode(output.stream(), width, height, readRows, indexed ? &palette : nullptr,
                          &band, &row, &context);
    int writeError = errno;
    if (!encoded) {
        // libpng reports a failed write as its own message; the system's
        // reason says more.
        if (writeError != 0 && std::strstr(context.message, "Write") != nullptr) {
            *error = std::strerror(writeError);
        } else {
            *error = context.message[0] != '\0' ? context.message : std::strerror(EIO);
        }
        return false;
    }
    return output.Commit(error);
}

bool WritePngFile(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                  int height, std::string* error) {
    if (width < 1 || height < 1 ||
        pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        *error = "bad image size";
        return false;
    }
    return WritePngFile(
        path, width, height,
        [&](int first, int count, std::uint32_t* out) {
            std::memcpy(out, pixels.data() + static_cast<std::size_t>(first) * width,
                        static_cast<std::size_t>(count) * width * sizeof(std::uint32_t));
            return true;
        },
        error);
}
