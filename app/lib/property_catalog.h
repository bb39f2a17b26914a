// The camera's property set as an application sees it: each id's name, the verbs it takes and,
// for ranged settings, the ids whose constant values publish its minimum, maximum and default.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/lib/result.h"

namespace bayercam {

enum class Access { kRead, kWrite, kReadWrite };

enum class ValueLayout {
    kPlain,     // one signed 32-bit value
    kRegion,    // x, y, width, height
    kRegister,  // register number and value (write only)
    kPacket,    // raw command bytes, or an address and the byte read there
};

struct PropertyInfo {
    std::uint32_t id;
    std::string_view name;  // "Property36" style for ids without a name of their own
    Access access;
    ValueLayout layout;
    // Ids of the published minimum, maximum and default; set for ranged settings only.
    std::optional<std::uint32_t> minimumId;
    std::optional<std::uint32_t> maximumId;
    std::optional<std::uint32_t> defaultId;

    bool readable() const { return access != Access::kWrite; }
    bool writable() const { return access != Access::kRead; }
    bool ranged() const { return minimumId.has_value(); }
};

// All 69 properties, by id.
std::span<const PropertyInfo> propertyCatalog();

// By name (any case) or by decimal id; nothing when neither matches.
const PropertyInfo* findProperty(std::string_view nameOrId);

// As findProperty, or an error that names the close matches.
Result<PropertyInfo> lookupProperty(std::string_view nameOrId);

std::string_view accessName(Access access);

}  // namespace bayercam
