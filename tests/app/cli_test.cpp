// bayercam's command line as a whole: help for every subcommand, and the command a person
// meant when the word is wrong.
#include <gtest/gtest.h>

#include "tests/app/tool_process.h"

namespace bayercam::app::testing {
namespace {

TEST(ToolCommandLine, EverySubcommandHasHelp) {
    for (const char* command :
         {"capture", "props", "get", "set", "roi", "info", "settings", "convert"}) {
        const ToolRun help = runBayercam({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_NE(help.out.find("bayercam " + std::string(command)), std::string::npos)
            << command << " help:\n"
            << help.out;
    }
}

TEST(ToolCommandLine, AMistypedCommandIsNamedAfterGlobalOptionsToo) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--camera", "sim", "captur"},
          {"--registry=/nonexistent/r.db", "captur", "-n", "1"}}) {
        const ToolRun typo = runBayercam(args);
        EXPECT_EQ(typo.exitCode, 2);
        EXPECT_NE(typo.err.find("unknown command 'captur'; did you mean capture"),
                  std::string::npos)
            << typo.err;
    }
}

}  // namespace
}  // namespace bayercam::app::testing
