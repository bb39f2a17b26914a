#include "app/tool/image_writers.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "app/tool/output_file.h"
#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

struct PngErrorSink {
    std::jmp_buf jump;
    char message[256];
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<PngErrorSink*>(png_get_error_ptr(png));
    std::strncpy(sink->message, message, sizeof(sink->message) - 1);
    std::longjmp(sink->jump, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Holds only plain locals between setjmp and any longjmp, so the jump skips no destructor.
// Returns false with sink.message set when libpng fails.
bool encodePng(std::FILE* stream, png_bytepp rows, FrameSize size, PngErrorSink& sink) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onPngError, onPngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(sink.jump) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, stream);
    // Sensor noise compresses poorly at any level: the fastest one takes a third of the time
    // of the default for files about an eighth larger.
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(size.width),
                 static_cast<png_uint_32>(size.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // The rows are blue, green, red, 255: swap to RGB and drop the fourth byte.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void writePng(OutputFile& file, std::span<const std::uint8_t> bgra, FrameSize size,
              const std::filesystem::path& path) {
    std::vector<png_bytep> rows(static_cast<std::size_t>(size.height));
    const std::size_t rowBytes = static_cast<std::size_t>(size.width) * 4;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] = const_cast<png_bytep>(bgra.data() + y * rowBytes);
    }
    PngErrorSink sink{};
    std::strcpy(sink.message, "out of memory");
    if (!encodePng(file.stream(), rows.data(), size, sink)) {
        throw failure("cannot write '" + path.string() + "': PNG encoding failed: " + sink.message);
    }
}

}  // namespace

void writeImageFile(const std::filesystem::path& path, OutputFormat format,
                    std::span<const std::uint8_t> bgra, FrameSize size) {
    OutputFile file(path);
    if (format == OutputFormat::kPng) {
        writePng(file, bgra, size, path);
    } else {
        file.write(bgra);
    }
    file.commit();
}

}  // namespace bayercam::app
