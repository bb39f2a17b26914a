#include "host/kernel/registry_names.h"

namespace bayercam::host {
namespace {

bool isScalarValue(char32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::optional<std::string> utf8FromUnicodeString(const UNICODE_STRING& text) {
    if (text.Length % sizeof(WCHAR) != 0) return std::nullopt;
    if (text.Length != 0 && text.Buffer == nullptr) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.Length / sizeof(WCHAR); ++i) {
        auto c = static_cast<char32_t>(text.Buffer[i]);
        if (!isScalarValue(c)) return std::nullopt;
        appendUtf8(out, c);
    }
    return out;
}

std::wstring wideFromUtf8(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}

bool isValidKeyPath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
    return path.find("\\\\") == std::string_view::npos;
}

std::string_view parentKeyPath(std::string_view path) {
    auto slash = path.rfind('\\');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

}  // namespace bayercam::host
