// Runs the bayercam executable as a separate process, as a user would, and checks what it says.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace bayercam::app::testing {

class ScratchDir;

struct ToolRun {
    int exitCode = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// bayercam started with args (no shell involved), its output collected in files.
class ToolProcess {
  public:
    explicit ToolProcess(const std::vector<std::string>& args);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    void signal(int number) const;
    // Waits for the process to end.
    ToolRun wait();

  private:
    std::unique_ptr<ScratchDir> capture_;
    pid_t pid_ = 0;
};

// Runs bayercam with args and collects its exit status and output.
ToolRun runBayercam(const std::vector<std::string>& args);

// Expects the run to end with exitCode and a "bayercam: " message on stderr holding fragment.
void expectError(const ToolRun& run, int exitCode, const std::string& fragment);

// A file's bytes; empty when it cannot be read.
std::string contents(const std::filesystem::path& file);

}  // namespace bayercam::app::testing
