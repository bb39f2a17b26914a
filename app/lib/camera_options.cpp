#include "app/lib/camera_options.h"

#include <charconv>
#include <vector>

namespace bayercam {

namespace {

constexpr std::string_view kGrammar =
    "sim[:scene=bars|moving|FILE.png][,exact][,fps=N|max][,clock=N]";

Error badOption(std::string_view text, std::string_view why) {
    return Error{"bad camera '" + std::string(text) + "': " + std::string(why) + " (expected " +
                     std::string(kGrammar) + ")",
                 Error::Kind::kBadValue};
}

std::vector<std::string_view> splitOnComma(std::string_view text) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t comma = text.find(',');
        parts.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) return parts;
        text.remove_prefix(comma + 1);
    }
}

template <class T>
std::optional<T> parseNumber(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
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
    CameraOptions options;
    if (!text.starts_with("sim")) return badOption(text, "only the simulated camera 'sim' exists");
    std::string_view rest = text.substr(3);
    if (rest.empty()) return options;
    if (rest.front() != ':' || rest.size() == 1) return badOption(text, "options follow 'sim:'");
    for (std::string_view item : splitOnComma(rest.substr(1))) {
        const std::string why = applyItem(options, item);
        if (!why.empty()) return badOption(text, why);
    }
    return options;
}

std::string CameraOptions::text() const {
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
