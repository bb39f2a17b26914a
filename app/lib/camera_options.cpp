#include "app/lib/camera_options.h"

#include <charconv>
#include <cstdio>
#include <type_traits>
#include <vector>

#include "bayercam/usb_ids.h"

namespace bayercam {

namespace {

constexpr std::string_view kGrammar =
    "sim[:scene=bars|moving|FILE.png][,exact][,fps=N|max][,clock=N] or "
    "usb[:VID:PID[:SERIAL|:BUS:ADDRESS]]";

Error badOption(std::string_view text, std::string_view why) {
    return Error{"bad camera '" + std::string(text) + "': " + std::string(why) + " (expected " +
                     std::string(kGrammar) + ")",
                 Error::Kind::kBadValue};
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

template <class T>
std::optional<T> parseNumber(std::string_view text, int base = 10) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = [&] {
        if constexpr (std::is_integral_v<T>) return std::from_chars(text.data(), end, value, base);
        return std::from_chars(text.data(), end, value);
    }();
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// "usb", "usb:VID:PID", "usb:VID:PID:SERIAL" or "usb:VID:PID:BUS:ADDRESS".
Result<CameraOptions> parseUsb(std::string_view text) {
    UsbCameraChoice choice;
    choice.vendor = kCameraUsbVendorId;
    choice.product = kCameraUsbProductId;
    const std::vector<std::string_view> parts = split(text, ':');
    if (parts.size() == 2 || parts.size() > 5) return badOption(text, "give both ids, VID:PID");
    if (parts.size() >= 3) {
        const auto vendor =
            parts[1].size() == 4 ? parseNumber<std::uint16_t>(parts[1], 16) : std::nullopt;
        const auto product =
            parts[2].size() == 4 ? parseNumber<std::uint16_t>(parts[2], 16) : std::nullopt;
        if (!vendor || !product) return badOption(text, "USB ids are four hex digits each");
        choice.vendor = *vendor;
        choice.product = *product;
    }
    if (parts.size() == 4) {
        if (parts[3].empty()) return badOption(text, "the serial is empty");
        choice.serial = std::string(parts[3]);
    }
    if (parts.size() == 5) {
        const auto bus = parseNumber<std::uint8_t>(parts[3]);
        const auto address = parseNumber<std::uint8_t>(parts[4]);
        if (!bus || !address) return badOption(text, "bus and address are numbers to 255");
        choice.bus = *bus;
        choice.address = *address;
    }
    CameraOptions options;
    options.usb = choice;
    return options;
}

// One "key=value" or "flag" item; an empty string when it was understood.
std::string applyItem(CameraOptions& options, std::string_view item) {
    const std::size_t equals = item.find('=');
    const std::string_view key = item.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    if (key == "exact" && equals == std::string_view::npos) {
        options.exact = true;
    } else if (key == "scene" && value == "bars") {
        options.scene = CameraOptions::Scene::kBars;
    } else if (key == "scene" && value == "moving") {
        options.scene = CameraOptions::Scene::kMoving;
    } else if (key == "scene" && value.ends_with(".png") && value.size() > 4) {
        options.scene = CameraOptions::Scene::kPng;
        options.pngScene = std::string(value);
    } else if (key == "fps" && value == "max") {
        options.framesPerSecond.reset();
    } else if (key == "fps") {
        const std::optional<double> fps = parseNumber<double>(value);
        if (!fps || !(*fps >= 0.1 && *fps <= 1000.0)) return "fps must be 0.1 to 1000 or max";
        options.framesPerSecond = *fps;
    } else if (key == "clock") {
        const std::optional<int> clock = parseNumber<int>(value);
        if (!clock || *clock < 0 || *clock > 255) return "clock must be 0 to 255";
        options.clockMode = *clock;
    } else {
        return "unknown item '" + std::string(item) + "'";
    }
    return {};
}

}  // namespace

Result<CameraOptions> parseCameraOptions(std::string_view text) {
    if (text == "usb" || text.starts_with("usb:")) return parseUsb(text);
    CameraOptions options;
    if (!text.starts_with("sim")) return badOption(text, "a camera is 'sim' or 'usb'");
    std::string_view rest = text.substr(3);
    if (rest.empty()) return options;
    if (rest.front() != ':' || rest.size() == 1) return badOption(text, "options follow 'sim:'");
    for (std::string_view item : split(rest.substr(1), ',')) {
        const std::string why = applyItem(options, item);
        if (!why.empty()) return badOption(text, why);
    }
    return options;
}

std::string CameraOptions::text() const {
    if (usb) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "usb:%04x:%04x", usb->vendor, usb->product);
        std::string result = ids;
        if (usb->serial) result += ":" + *usb->serial;
        if (usb->bus && usb->address) {
            result += ":" + std::to_string(*usb->bus) + ":" + std::to_string(*usb->address);
        }
        return result;
    }
    std::string result = "sim:scene=";
    result += scene == Scene::kBars     ? "bars"
              : scene == Scene::kMoving ? "moving"
                                        : pngScene.string();
    if (exact) result += ",exact";
    result += ",fps=";
    if (framesPerSecond) {
        char buffer[32];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), *framesPerSecond);
        result.append(buffer, error == std::errc() ? end : buffer);
    } else {
        result += "max";
    }
    return result + ",clock=" + std::to_string(clockMode);
}

}  // namespace bayercam
