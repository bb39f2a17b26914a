#include "tests/app/camera_tool.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace bayercam::app::testing {

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ToolRun CameraTool::run(std::vector<std::string> args, const std::string& camera) const {
    args.insert(args.begin(), {"--registry", registry_.string(), "--camera", camera});
    return runBayercam(args);
}

void CameraTool::expectError(const ToolRun& run, int exitCode, const std::string& fragment) {
    EXPECT_EQ(run.exitCode, exitCode) << "stderr: " << run.err;
    EXPECT_EQ(run.err.rfind("bayercam: ", 0), 0u) << "stderr: " << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos)
        << "expected stderr to contain: " << fragment << "\ngot: " << run.err;
}

void CameraTool::expectOutput(const ToolRun& run, const std::string& fragment) {
    EXPECT_EQ(run.exitCode, 0) << "stderr: " << run.err;
    EXPECT_NE(run.out.find(fragment), std::string::npos)
        << "expected stdout to contain: " << fragment << "\ngot: " << run.out;
}

}  // namespace bayercam::app::testing
