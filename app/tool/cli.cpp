#include "app/tool/cli.h"

#include <CLI/CLI.hpp>
#include <array>
#include <csignal>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/tool/camera_session.h"
#include "app/tool/capture_command.h"
#include "app/tool/convert_command.h"
#include "app/tool/device_commands.h"
#include "app/tool/list_command.h"
#include "app/tool/name_matching.h"
#include "app/tool/property_commands.h"
#include "app/tool/settings_command.h"
#include "app/tool/tool_error.h"

namespace bayercam::app {

namespace {

constexpr std::array<std::string_view, 9> kCommands = {
    "list", "capture", "props", "get", "set", "roi", "info", "settings", "convert"};

std::string commandList() {
    const std::vector<std::string> names(kCommands.begin(), kCommands.end());
    return joinAlternatives(names);
}

int reportError(std::string_view message, ExitStatus status) {
    std::cerr << "bayercam: " << message << "\n";
    return static_cast<int>(status);
}

// The first word that is neither a global option nor its value: the command.
std::string_view commandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--camera" || word == "--wait" || word == "--registry") {
            ++i;
        } else if (!word.starts_with("-")) {
            return word;
        } else if (!word.starts_with("--camera=") && !word.starts_with("--wait=") &&
                   !word.starts_with("--registry=")) {
            return {};  // --help, --version or a mistake: CLI11 says what it is
        }
    }
    return {};
}

// CLI11 takes a stray word for an unexpected argument; name it as the unknown command it is.
void checkCommandName(int argc, char** argv) {
    if (argc < 2) {
        throw usageError("no command given; commands: " + commandList() +
                         " (see 'bayercam --help')");
    }
    const std::string_view word = commandWord(argc, argv);
    if (word.empty()) return;
    for (std::string_view command : kCommands) {
        if (word == command) return;
    }
    std::string message = "unknown command '" + std::string(word) + "'";
    const std::vector<std::string> matches = closeMatches(word, kCommands);
    message += matches.empty() ? "; commands: " + commandList()
                               : "; did you mean " + joinAlternatives(matches) + "?";
    throw usageError(message + " (see 'bayercam --help')");
}

int reportParseError(const CLI::App& tool, const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
        return tool.exit(error);  // --help or --version: printed on stdout
    }
    std::string where = "bayercam";
    for (const CLI::App* command : tool.get_subcommands()) where += " " + command->get_name();
    return reportError(std::string(error.what()) + " (see '" + where + " --help')",
                       ExitStatus::kUsage);
}

}  // namespace

int runTool(int argc, char** argv) {
    // A reader that goes away is a failed write, reported as one, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App tool("Pictures and settings of the bayercam USB colour camera.", "bayercam");
    tool.set_version_flag("--version", "bayercam " BAYERCAM_VERSION);
    tool.require_subcommand(1);
    CameraChoice choice;
    choice.addOptions(tool);
    const ListCommand list(tool);
    const CaptureCommand capture(tool, choice);
    const PropsCommand props(tool, choice);
    const GetSetCommand get(tool, choice, GetSetCommand::Verb::kGet);
    const GetSetCommand set(tool, choice, GetSetCommand::Verb::kSet);
    const RoiCommand roi(tool, choice);
    const InfoCommand info(tool, choice);
    const SettingsCommand settings(tool, choice);
    const ConvertCommand convert(tool);

    try {
        checkCommandName(argc, argv);
        try {
            tool.parse(argc, argv);
        } catch (const CLI::ParseError& error) {
            return reportParseError(tool, error);
        }
        if (list.selected()) list.run(std::cout);
        if (capture.selected()) return capture.run(std::cout, std::cerr);
        if (props.selected()) props.run(std::cout);
        if (get.selected()) get.run(std::cout);
        if (set.selected()) set.run(std::cout);
        if (roi.selected()) roi.run(std::cout);
        if (info.selected()) info.run(std::cout);
        if (settings.selected()) settings.run(std::cout);
        if (convert.selected()) convert.run(std::cout, std::cerr);
        return static_cast<int>(ExitStatus::kOk);
    } catch (const ToolError& error) {
        return reportError(error.what(), error.status());
    } catch (const std::bad_alloc&) {
        return reportError("out of memory", ExitStatus::kFailure);
    } catch (const std::exception& error) {
        return reportError(error.what(), ExitStatus::kFailure);
    }
}

}  // namespace bayercam::app
