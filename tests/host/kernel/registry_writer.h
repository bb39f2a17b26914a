// What registry_writer writes, for the tests that read it back from another process. It binds a
// device object to the instance path it is given and writes to "Settings" below its driver key:
//   registry_writer FILE INSTANCE dwords PREFIX COUNT
//       REG_DWORD values PREFIX0 .. PREFIX<COUNT-1>, value i holding i; exit status 0 when all
//       writes succeeded.
//   registry_writer FILE INSTANCE generations
//       for generation 1, 2, ... until killed: kBlockCount values Block0 .. Block<n-1> of
//       kBlockSize bytes, every 32-bit word the generation, then REG_DWORD "Generation".
#pragma once

#include <cstddef>

namespace bayercam::host::testing {

constexpr int kBlockCount = 8;
constexpr std::size_t kBlockSize = 4096;

}  // namespace bayercam::host::testing
