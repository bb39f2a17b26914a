// Counts of the kernel objects the stand-in hands out, for the leak checks at the end of a test.
#pragma once

#include <cstddef>

namespace bayercam::host::live {

enum class Kind { Irp, Mdl, ThreadObject, DeviceObject };
constexpr Kind kAllKinds[] = {Kind::Irp, Kind::Mdl, Kind::ThreadObject, Kind::DeviceObject};

void created(Kind kind) noexcept;
void destroyed(Kind kind) noexcept;
std::size_t count(Kind kind) noexcept;
const char* name(Kind kind) noexcept;

}  // namespace bayercam::host::live
