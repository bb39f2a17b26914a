// Registry names as the store keeps them: UTF-8 text, key paths as backslash-separated
// components without a leading backslash ("Registry\Machine\System").
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/kernel.h"

namespace bayercam::host {

// The UTF-8 form of a counted wide string, or nothing when Length is odd for WCHAR, the buffer
// is missing, or a character is not a Unicode scalar value.
std::optional<std::string> utf8FromUnicodeString(const UNICODE_STRING& text);

// The wide form of UTF-8 text that utf8FromUnicodeString produced.
std::wstring wideFromUtf8(std::string_view text);

// Whether a relative key path is well formed: one or more non-empty components joined by
// single backslashes, no leading or trailing backslash.
bool isValidKeyPath(std::string_view path);

// The path of the key that holds a key; "" for a top-level key.
std::string_view parentKeyPath(std::string_view path);

}  // namespace bayercam::host
