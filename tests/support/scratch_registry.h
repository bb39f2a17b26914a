// A registry database in a scratch folder of its own, in memory when the machine offers a memory
// file system (the driver writes its settings at every start and stop); the folder goes with it.
#pragma once

#include <filesystem>

namespace bayercam::testing {

class ScratchRegistry {
  public:
    // Throws std::runtime_error when no folder can be made.
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    // Lets go of the database and starts an empty one; no key may be open.
    void fresh();

  private:
    std::filesystem::path folder_;
    unsigned databases_ = 0;
};

}  // namespace bayercam::testing
