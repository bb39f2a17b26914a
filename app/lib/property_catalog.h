// The camera's property set as an application sees it: each id's name, the verbs it takes, what
// its value means and which values the driver acts on; for ranged settings, the ids whose
// constant values publish its minimum, maximum and default; and the settings the driver keeps
// in its store.
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

enum class ValueType {
    kSwitch,    // 0 or 1
    kNumber,    // a setting within its published range or its limits
    kConstant,  // fixed by the driver
    kReading,   // read only, follows the camera or the driver's state
    kIgnored,   // the driver takes writes and does nothing with them
    kAction,    // a write does something once
    kRegion,    // the region of interest
    kRegister,  // a sensor register write
    kPacket,    // a raw command packet, or a byte of camera memory
};

struct Limits {
    std::int32_t minimum;
    std::int32_t maximum;
};

struct PropertyInfo {
    std::uint32_t id;
    std::string_view name;  // "Property36" style for ids without a name of their own
    Access access;          // the verbs the driver offers
    ValueType type;
    std::string_view description;  // one line
    std::string_view unit;         // empty when the value has none
    // Ids of the published minimum, maximum and default; set for ranged settings only.
    std::optional<std::uint32_t> minimumId;
    std::optional<std::uint32_t> maximumId;
    std::optional<std::uint32_t> defaultId;
    // The values the driver takes when no range is published (a switch takes 0 and 1).
    std::optional<Limits> limits;

    ValueLayout layout() const;
    bool readable() const { return access != Access::kWrite; }
    bool writable() const { return access != Access::kRead; }
    bool ranged() const { return minimumId.has_value(); }
    // What `get NAME` and `set NAME=VALUE` can do with it: a plain value, read or changed.
    bool gettable() const { return readable() && layout() == ValueLayout::kPlain; }
    bool settable() const;
};

// All 69 properties, by id.
std::span<const PropertyInfo> propertyCatalog();

// By name (any case) or by decimal id; nothing when neither matches.
const PropertyInfo* findProperty(std::string_view nameOrId);

// As findProperty, or an error that names the close matches.
Result<PropertyInfo> lookupProperty(std::string_view nameOrId);

std::string_view accessName(Access access);
// "rw", "r", "w" for what get and set do with the property by name, "-" for neither.
std::string_view usableAccess(const PropertyInfo& info);
std::string_view typeName(ValueType type);

// One setting the driver keeps in its store, in the order it loads them.
struct StoredSetting {
    std::string_view name;  // the value's name in the store
    // The property that reads and sets it; none for the four values of the region.
    std::optional<std::uint32_t> propertyId;
    // What the driver loads when the store has no value (for Clock: the camera's answer).
    std::int32_t loadDefault;
    bool applied;  // false: the driver keeps it and writes it back, but never acts on it
};

std::span<const StoredSetting> storedSettings();

// True when changing the property changes what the driver stores.
bool changesStoredSettings(const PropertyInfo& info);

}  // namespace bayercam
