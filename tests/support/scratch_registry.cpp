#include "tests/support/scratch_registry.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "host/kernel/registry_config.h"

namespace bayercam::testing {

ScratchRegistry::ScratchRegistry() {
    std::filesystem::path base = "/dev/shm";
    std::error_code error;
    if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
    std::string pattern = base / "bayercam-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch folder");
    folder_ = pattern;
    fresh();
}

ScratchRegistry::~ScratchRegistry() {
    host::closeRegistry();
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
}

void ScratchRegistry::fresh() {
    host::closeRegistry();
    std::error_code error;
    std::filesystem::remove(folder_ / ("registry-" + std::to_string(databases_) + ".db"), error);
    ++databases_;
    host::setRegistryPath(folder_ / ("registry-" + std::to_string(databases_) + ".db"));
}

}  // namespace bayercam::testing
