// bayercam's command line as a whole: help for every subcommand, and the command a person
// meant when the word is wrong.
#include <gtest/gtest.h>

#include "tests/app/tool_process.h"

namespace bayercam::app::testing {
namespace {

TEST(ToolCommandLine, EverySubcommandHasHelp) {
    for (const char* command : {"capture", "props", "get", "set", "roi", "info", "convert"}) {
        const ToolRun help = runBayercam({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_NE(help.out.find("bayercam " + std::string(command)), std::string::npos)
            << command << " help:\n"
            << help.out;
    }
    const ToolRun typo = runBayercam({"captur"});
    EXPECT_EQ(typo.exitCode, 2);
    EXPECT_NE(typo.err.find("did you mean capture"), std::string::npos) << typo.err;
}

}  // namespace
}  // namespace bayercam::app::testing
