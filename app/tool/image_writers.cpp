#include "app/tool/image_writers.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

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
bool encodePng(std::FILE* stream, png_bytepp rows, FrameSize size, png_textp text, int textCount,
               PngErrorSink& sink) {
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
    if (textCount > 0) png_set_text(png, info, text, textCount);
    png_write_info(png, info);
    // The rows are blue, green, red, 255: swap to RGB and drop the fourth byte.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void writePng(std::FILE* stream, const ImageView& image, const ImageText& text,
              const std::string& name) {
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.size.height));
    for (std::int32_t y = 0; y < image.size.height; ++y) {
        rows[std::size_t(y)] = const_cast<png_bytep>(image.row(y));
    }
    std::vector<png_text> chunks(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = const_cast<png_charp>(text[i].first.c_str());
        chunks[i].text = const_cast<png_charp>(text[i].second.c_str());
    }
    PngErrorSink sink{};
    std::strcpy(sink.message, "out of memory");
    if (!encodePng(stream, rows.data(), image.size, chunks.data(), int(chunks.size()), sink)) {
        throw failure("cannot write " + inQuotes(name) + ": PNG encoding failed: " + sink.message);
    }
}

}  // namespace

ImageView ImageView::packed(std::span<const std::uint8_t> bgra, FrameSize size) {
    return {bgra.data(), std::ptrdiff_t(size.width) * 4, size};
}

ImageView ImageView::bottomUp(std::span<const std::uint8_t> bgra, std::size_t rowBytes,
                              FrameSize size) {
    const std::ptrdiff_t step = std::ptrdiff_t(rowBytes);
    return {bgra.data() + (size.height - 1) * step, -step, size};
}

void writeImage(std::FILE* stream, OutputFormat format, const ImageView& image,
                const ImageText& text, const std::string& name) {
    if (format == OutputFormat::kPng) return writePng(stream, image, text, name);
    const std::size_t rowBytes = std::size_t(image.size.width) * 4;
    for (std::int32_t y = 0; y < image.size.height; ++y) {
        if (std::fwrite(image.row(y), 1, rowBytes, stream) != rowBytes) {
            throw failure("cannot write " + inQuotes(name) + ": " + std::strerror(errno));
        }
    }
}

void writeImageFile(const std::filesystem::path& path, OutputFormat format, const ImageView& image,
                    const ImageText& text, Durability durability) {
    OutputFile file(path, durability);
    writeImage(file.stream(), format, image, text, path.string());
    file.commit();
}

void writeImageFile(const std::filesystem::path& path, OutputFormat format,
                    std::span<const std::uint8_t> bgra, FrameSize size) {
    writeImageFile(path, format, ImageView::packed(bgra, size));
}

}  // namespace bayercam::app
