#include "tests/app/camera_tool.h"

#include <gtest/gtest.h>

namespace bayercam::app::testing {

ToolRun CameraTool::run(std::vector<std::string> args, const std::string& camera) const {
    args.insert(args.begin(), {"--registry", registry_.string(), "--camera", camera});
    return runBayercam(args);
}

void CameraTool::expectOutput(const ToolRun& run, const std::string& fragment) {
    EXPECT_EQ(run.exitCode, 0) << "stderr: " << run.err;
    EXPECT_NE(run.out.find(fragment), std::string::npos)
        << "expected stdout to contain: " << fragment << "\ngot: " << run.out;
}

}  // namespace bayercam::app::testing
