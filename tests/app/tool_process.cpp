#include "tests/app/tool_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/app/scratch_dir.h"

extern char** environ;

namespace bayercam::app::testing {

namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& args)
    : capture_(std::make_unique<ScratchDir>()) {
    const std::string outPath = *capture_ / "stdout";
    const std::string errPath = *capture_ / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0600);

    std::vector<std::string> words{BAYERCAM_TOOL};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const int spawned = posix_spawn(&pid_, BAYERCAM_TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " BAYERCAM_TOOL);
}

ToolProcess::~ToolProcess() {
    if (pid_ == 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

void ToolProcess::signal(int number) const { ::kill(pid_, number); }

ToolRun ToolProcess::wait() {
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) throw std::runtime_error("waitpid failed");
    pid_ = 0;
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(*capture_ / "stdout");
    run.err = slurp(*capture_ / "stderr");
    return run;
}

ToolRun runBayercam(const std::vector<std::string>& args) { return ToolProcess(args).wait(); }

void expectError(const ToolRun& run, int exitCode, const std::string& fragment) {
    EXPECT_EQ(run.exitCode, exitCode) << "stderr: " << run.err;
    EXPECT_EQ(run.err.rfind("bayercam: ", 0), 0u) << "stderr: " << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos)
        << "expected stderr to contain: " << fragment << "\ngot: " << run.err;
}

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace bayercam::app::testing
