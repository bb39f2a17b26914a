// The camera subcommands run as processes, as a person runs them, each test with its own
// settings store. The reference conversions some tests run happen on the host kernel here, so
// its leak checks apply.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/scratch_dir.h"
#include "tests/app/tool_process.h"
#include "tests/support/kernel_test.h"

namespace bayercam::app::testing {

class CameraTool : public host::testing::KernelTest {
  protected:
    // bayercam with this test's store and a camera that sends frames exactly.
    ToolRun run(std::vector<std::string> args,
                const std::string& camera = "sim:scene=moving,exact,fps=max") const;

    static void expectOutput(const ToolRun& run, const std::string& fragment);

    ScratchDir dir_;
    std::filesystem::path registry_ = dir_ / "registry.db";
};

}  // namespace bayercam::app::testing
